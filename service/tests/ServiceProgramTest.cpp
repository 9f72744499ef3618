#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

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

// velmora-service as an operator starts it, its output going to `output`.
pid_t launch(std::vector<std::string> args, const std::string& output) {
    args.insert(args.begin(), VELMORA_SERVICE_BINARY);
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out);
    return pid;
}

int exitCode(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readAll(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(ServiceProgram, ServesFromAConfigFileAndStopsOnSigterm) {
    TempDir dir;
    std::ofstream(dir.path() + "/service.conf")
        << "port = 0\nversion = 3.1.4\ncert = " << testtls::certificates().certificate
        << "\nkey = " << testtls::certificates().key << "\ndata-dir = " << dir.path() << "/data\n";
    const std::string output = dir.path() + "/output";
    const pid_t program = launch({"--config", dir.path() + "/service.conf"}, output);
    // Reads the output until `pattern` shows; its first group.
    const auto waitFor = [&](const std::string& pattern) {
        std::smatch match;
        for (int tries = 0; tries < 3000; ++tries) {
            const std::string text = readAll(output);
            if (std::regex_search(text, match, std::regex(pattern))) {
                return match.size() > 1 ? match[1].str() : match[0].str();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::string();
    };
    const std::string port = waitFor("velmora-service listening on https://127\\.0\\.0\\.1:(\\d+)");
    ASSERT_FALSE(port.empty()) << readAll(output);
    auto version = clientFor(std::stoi(port))->Get("/latest/version.json");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->body, "{\"version\":\"3.1.4\"}");
    EXPECT_FALSE(waitFor("GET /latest/version.json 200 \\d+ ms\n").empty());

    kill(program, SIGTERM);
    EXPECT_EQ(exitCode(program), 0) << readAll(output);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/data/tokens.sqlite3"));
}

}  // namespace
}  // namespace velmora::service::testing
