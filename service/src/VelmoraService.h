#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ChatEndpoint.h"
#include "ServiceConfig.h"
#include "SignInThrottle.h"
#include "TokenDatabase.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace velmora::service {

class HttpsServer;

// The HTTPS service: routes, the token database and the request log.
class VelmoraService {
  public:
    // Loads the certificate and opens the token database; none with `error` set on failure.
    static std::unique_ptr<VelmoraService> create(ServiceConfig config, std::string* error);
    ~VelmoraService();

    VelmoraService(const VelmoraService&) = delete;
    VelmoraService& operator=(const VelmoraService&) = delete;

    // Binds the configured address and port (0 picks a free one); returns the port or -1.
    int bind();
    // Serves until `stop`; false when the server could not run.
    bool run();
    // Safe from any thread. Has no effect before `run` has started serving.
    void stop();
    bool running() const;

    const ServiceConfig& config() const { return config_; }

  private:
    VelmoraService(ServiceConfig config, std::unique_ptr<TokenDatabase> tokens,
                   std::unique_ptr<HttpsServer> server);
    void installRoutes();
    void signIn(const httplib::Request& req, httplib::Response& res);

    ServiceConfig config_;
    std::unique_ptr<TokenDatabase> tokens_;
    std::unique_ptr<HttpsServer> server_;
    ChatEndpoint chat_;
    SignInThrottle throttle_;
};

// Writes one line to standard output, whole, even with several request threads.
void logServiceLine(const std::string& line);

// Sends the log lines to `sink` instead of standard output; an empty sink restores it.
void setServiceLogSink(std::function<void(const std::string&)> sink);

}  // namespace velmora::service
