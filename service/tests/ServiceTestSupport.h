#pragma once

#include <httplib.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ServiceConfig.h"
#include "VelmoraService.h"

namespace velmora::service::testing {

// A directory under the system's temp dir, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A CA and server certificate for 127.0.0.1, made once per test process by make-dev-cert.sh.
struct CertFiles {
    std::string ca;
    std::string cert;
    std::string key;
};
const CertFiles& testCertificates();

// A chat-completions backend on loopback whose answers the test scripts. It records every
// request it receives.
class ScriptedUpstream {
  public:
    using Script = std::function<void(const httplib::Request&, httplib::Response&)>;

    ScriptedUpstream();
    ~ScriptedUpstream();

    // Base URL to configure as the service's upstream-url.
    std::string baseUrl() const;
    void setScript(Script script);
    // Answers every request with `content` as the first choice's message.
    void answerWith(const std::string& content);
    // Holds every request until the upstream is destroyed.
    void hang();

    struct Received {
        std::string path;
        std::string authorization;
        std::string body;
    };
    std::vector<Received> received() const;

  private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool releasing_ = false;
    Script script_;
    std::vector<Received> received_;
};

// velmora-service in this process, on a free port of 127.0.0.1, with the test certificate and
// its own data directory unless the config names one.
class RunningService {
  public:
    explicit RunningService(ServiceConfig config);
    ~RunningService();

    // A client that trusts the test CA and verifies the server.
    std::unique_ptr<httplib::Client> client() const;
    int port() const { return port_; }
    const ServiceConfig& config() const { return service_->config(); }

    // Posts a chat request with the given bearer token (none when empty).
    httplib::Result postChat(const std::string& body, const std::string& token) const;
    // Signs in with `passphrase` on the page; the token from the redirect, or empty.
    std::string signIn(const std::string& passphrase) const;

  private:
    TempDir dataDir_;
    std::unique_ptr<VelmoraService> service_;
    int port_ = -1;
    std::thread thread_;
};

// Records the service's log lines while it exists.
class LogRecorder {
  public:
    LogRecorder();
    ~LogRecorder();
    // The server logs a request after answering it, so tests wait for the line.
    bool waitForLine(const std::string& part) const;
    std::string text() const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// A config with the test certificate, port 0 and a short auth delay.
ServiceConfig testConfig();

// A valid request body for the catalog's default model.
std::string chatBody(const std::string& prompt,
                     const std::string& instructions = "Make this concise.");

}  // namespace velmora::service::testing
