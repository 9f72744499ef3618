#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "ServiceConfig.h"
#include "ServiceTestSupport.h"

namespace velmora::service::testing {
namespace {

std::optional<CommandLine> parse(const std::vector<std::string>& args, std::string* error) {
    return parseCommandLine(args, error);
}

TEST(ServiceConfig, DefaultsServeTheClientsCatalogOnLoopback) {
    std::string error;
    auto parsed = parse({}, &error);
    ASSERT_TRUE(parsed) << error;
    const ServiceConfig& config = parsed->config;
    EXPECT_EQ(config.listen, "127.0.0.1");
    EXPECT_EQ(config.port, 8443);
    EXPECT_EQ(config.upstreamTimeout, 55.0);
    EXPECT_TRUE(config.upstreamUrl.empty());
    EXPECT_EQ(config.modelMap,
              (std::map<std::string, std::string>{
                  {"gemini-2.5-flash-preview-05-20", "gemini-2.5-flash-preview-05-20"}}));
}

TEST(ServiceConfig, FlagsWinOverTheConfigFileAndSecretsComeFromFiles) {
    TempDir dir;
    const std::string secret = dir.path() + "/passphrase";
    std::ofstream(secret) << "  s3cret phrase \nsecond line ignored\n";
    const std::string file = dir.path() + "/service.conf";
    std::ofstream(file) << "# Velmora service\n"
                           "\n"
                           "port = 9443\n"
                           "listen = ::1\n"
                           "upstream-url = http://127.0.0.1:11434/v1\n"
                           "model-map = gemini-2.5-flash-preview-05-20 = llama3.2\n"
                           "model-map = small=qwen2.5:0.5b\n"
                           "passphrase-file = " +
                               secret +
                               "\n"
                               "upstream-timeout = 20\n";
    std::string error;
    auto parsed =
        parse({"--config", file, "--port=10443", "--upstream-timeout", "0.25", "--auth-delay", "0"},
              &error);
    ASSERT_TRUE(parsed) << error;
    const ServiceConfig& config = parsed->config;
    EXPECT_EQ(config.port, 10443);
    EXPECT_EQ(config.listen, "::1");
    EXPECT_EQ(config.upstreamUrl, "http://127.0.0.1:11434/v1");
    EXPECT_EQ(config.passphrase, "s3cret phrase");
    EXPECT_EQ(config.upstreamTimeout, 0.25);
    EXPECT_EQ(config.authDelay, 0.0);
    EXPECT_EQ(config.modelMap,
              (std::map<std::string, std::string>{{"gemini-2.5-flash-preview-05-20", "llama3.2"},
                                                  {"small", "qwen2.5:0.5b"}}));
}

TEST(ServiceConfig, RejectsWhatItCannotUse) {
    TempDir dir;
    const std::string badFile = dir.path() + "/bad.conf";
    std::ofstream(badFile) << "port = 1\nno equals sign here\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--port", "70000"}, "port"},
        {{"--port", "12ab"}, "port"},
        {{"--upstream-timeout", "0"}, "upstream-timeout"},
        {{"--auth-delay", "-1"}, "auth-delay"},
        {{"--upstream-url", "ftp://host"}, "upstream-url"},
        {{"--model-map", "llama3.2"}, "model-map"},
        {{"--colour", "blue"}, "unknown setting \"colour\""},
        {{"--cert"}, "needs a value"},
        {{"stray"}, "unexpected argument"},
        {{"--passphrase-file", dir.path() + "/absent"}, "cannot read"},
        {{"--config", dir.path() + "/absent.conf"}, "cannot read the config file"},
        {{"--config", badFile}, "line 2: expected key = value"},
    };
    for (const auto& [args, reason] : cases) {
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << args[0];
        EXPECT_NE(error.find(reason), std::string::npos) << args[0] << ": " << error;
    }
}

TEST(ServiceConfig, HelpAndTheDataDirectory) {
    std::string error;
    auto help = parse({"--port", "1", "--help"}, &error);
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->showHelp);
    for (const char* flag :
         {"--config", "--listen", "--port", "--cert", "--key", "--data-dir", "--passphrase",
          "--passphrase-file", "--upstream-url", "--upstream-api-key", "--upstream-api-key-file",
          "--upstream-ca-file", "--model-map", "--upstream-timeout", "--version",
          "--installer-file", "--auth-delay"}) {
        EXPECT_NE(usageText().find(std::string("  ") + flag + " "), std::string::npos) << flag;
    }

    ServiceConfig config;
    config.dataDir = "/srv/velmora";
    EXPECT_EQ(resolvedDataDir(config), "/srv/velmora");
    config.dataDir.clear();
    setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(resolvedDataDir(config), "/tmp/xdg-data/velmora-service");
    unsetenv("XDG_DATA_HOME");
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(resolvedDataDir(config), "/home/op/.local/share/velmora-service");
    setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace velmora::service::testing
