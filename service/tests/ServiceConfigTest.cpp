#include <gtest/gtest.h>

#include <fstream>

#include "ServiceConfig.h"
#include "ServiceTestSupport.h"

namespace velmora::service::testing {
namespace {

TEST(ServiceConfig, TheCommandLineWinsOverTheFileAndSecretsComeFromFiles) {
    std::string error;
    const ServiceConfig defaults = parseCommandLine({}, &error)->config;
    EXPECT_EQ(defaults.listen, "127.0.0.1");
    EXPECT_EQ(defaults.port, 8443);
    EXPECT_EQ(defaults.modelMap,
              (std::map<std::string, std::string>{{kDefaultModel, kDefaultModel}}));

    TempDir dir;
    std::ofstream(dir.path() + "/passphrase") << "  s3cret phrase \nsecond line\n";
    std::ofstream(dir.path() + "/service.conf")
        << "# comment\n\nport = 9443\nlisten = ::1\nupstream-timeout = 20\n"
           "token-idle-lifetime = 12h\nauth-lockout = 5m\nthreads = 4\n"
           "model-map = gemini-2.5-flash-preview-05-20 = llama3.2\nmodel-map = small=qwen2.5\n"
           "passphrase-file = "
        << dir.path() << "/passphrase\n";
    const auto parsed = parseCommandLine({"--config", dir.path() + "/service.conf", "--port=10443",
                                          "--upstream-timeout", "0.25", "--token-lifetime=90d"},
                                         &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->config.port, 10443);
    EXPECT_EQ(parsed->config.listen, "::1");
    EXPECT_EQ(parsed->config.upstreamTimeout, 0.25);
    EXPECT_EQ(parsed->config.tokenIdleLifetime, 12 * 3600);
    EXPECT_EQ(parsed->config.tokenLifetime, 90 * 86400);
    EXPECT_EQ(parsed->config.authLockout, 300);
    EXPECT_EQ(parsed->config.threads, 4);
    EXPECT_FALSE(parseCommandLine({"--token-lifetime", "0"}, &error));
    EXPECT_FALSE(parseCommandLine({"--auth-lockout", "2 weeks"}, &error));
    EXPECT_EQ(parsed->config.passphrase, "s3cret phrase");
    EXPECT_EQ(parsed->config.modelMap, (std::map<std::string, std::string>{
                                           {kDefaultModel, "llama3.2"}, {"small", "qwen2.5"}}));

    setenv("XDG_DATA_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(resolvedDataDir(defaults), "/tmp/xdg/velmora-service");
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace velmora::service::testing
