#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "ServiceTestSupport.h"

namespace velmora::service::testing {
namespace {

// The velmora-service program as an operator starts it, with its output read through a pipe.
class ServiceProcess {
  public:
    explicit ServiceProcess(const std::vector<std::string>& args) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            close(out[0]);
            std::vector<char*> argv{const_cast<char*>(VELMORA_SERVICE_BINARY)};
            for (const auto& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
    }

    ~ServiceProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(output_);
    }

    // Reads output until `pattern` matches it or the program ends; the match's first group.
    std::optional<std::string> waitFor(const std::regex& pattern) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            std::smatch match;
            if (std::regex_search(text_, match, pattern)) {
                return match.size() > 1 ? match[1].str() : match[0].str();
            }
            pollfd fd{output_, POLLIN, 0};
            if (poll(&fd, 1, 500) > 0) {
                char buffer[4096];
                const ssize_t got = read(output_, buffer, sizeof(buffer));
                if (got <= 0) {
                    break;
                }
                text_.append(buffer, static_cast<size_t>(got));
            }
        }
        return std::nullopt;
    }

    // Sends `sig` (none: just waits) and returns the exit status.
    int finish(int sig = 0) {
        if (sig) {
            kill(pid_, sig);
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        drain();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& output() const { return text_; }

  private:
    // Reads the rest of the output of a program that has ended.
    void drain() {
        char buffer[4096];
        ssize_t got;
        while ((got = read(output_, buffer, sizeof(buffer))) > 0) {
            text_.append(buffer, static_cast<size_t>(got));
        }
    }

    pid_t pid_ = -1;
    int output_ = -1;
    bool exited_ = false;
    std::string text_;
};

TEST(ServiceProgram, HelpListsTheFlags) {
    ServiceProcess program({"--help"});
    EXPECT_EQ(program.finish(), 0);
    EXPECT_NE(program.output().find("Usage: velmora-service"), std::string::npos);
    EXPECT_NE(program.output().find("--upstream-url URL"), std::string::npos);
}

TEST(ServiceProgram, ExplainsAMissingCertificateOrBadFlag) {
    ServiceProcess noCert({"--port", "0"});
    EXPECT_EQ(noCert.finish(), 1);
    EXPECT_NE(noCert.output().find("make-dev-cert.sh"), std::string::npos) << noCert.output();

    ServiceProcess badFlag({"--port", "nope"});
    EXPECT_EQ(badFlag.finish(), 2);
    EXPECT_NE(badFlag.output().find("port must be a number"), std::string::npos);
}

TEST(ServiceProgram, RunsFromAConfigFileAndStopsOnSigterm) {
    TempDir dir;
    const std::string file = dir.path() + "/service.conf";
    std::ofstream(file) << "port = 0\n"
                           "cert = "
                        << testCertificates().cert
                        << "\n"
                           "key = "
                        << testCertificates().key
                        << "\n"
                           "data-dir = "
                        << dir.path()
                        << "/data\n"
                           "version = 3.1.4\n";
    ServiceProcess program({"--config", file});
    const auto port =
        program.waitFor(std::regex("velmora-service listening on https://127\\.0\\.0\\.1:(\\d+)"));
    ASSERT_TRUE(port) << program.output();
    EXPECT_NE(program.output().find("No model backend configured"), std::string::npos);

    httplib::Client client("https://127.0.0.1:" + *port);
    client.set_ca_cert_path(testCertificates().ca.c_str());
    client.enable_server_certificate_verification(true);
    auto version = client.Get("/latest/version.json");
    ASSERT_TRUE(version) << httplib::to_string(version.error());
    EXPECT_EQ(version->body, "{\"version\":\"3.1.4\"}");
    EXPECT_TRUE(program.waitFor(std::regex("GET /latest/version.json 200 \\d+ ms\n")));

    EXPECT_EQ(program.finish(SIGTERM), 0) << program.output();
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/data/tokens.sqlite3"));
}

}  // namespace
}  // namespace velmora::service::testing
