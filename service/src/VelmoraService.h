#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ServiceConfig.h"

namespace velmora::service {

// The HTTPS service: an event loop on `threads` threads serving every connection, the routes,
// the token store (its blocking calls on a few database threads of their own), the relay to the
// model backend and the request log.
class VelmoraService {
  public:
    // Loads the certificate and opens the token store; none with `error` set on failure.
    static std::unique_ptr<VelmoraService> create(ServiceConfig config, std::string* error);
    ~VelmoraService();

    VelmoraService(const VelmoraService&) = delete;
    VelmoraService& operator=(const VelmoraService&) = delete;

    // Binds the configured address and port (0 picks a free one); returns the port, or -1 with
    // `error` saying why, e.g. that another process listens there already.
    int bind(std::string* error = nullptr);
    // Serves until `stop` has let the requests in flight finish; false when it could not run.
    bool run();
    // Safe from any thread, also before `run`: stops accepting, closes idle connections, lets
    // the requests in flight finish (up to a deadline), then makes `run` return.
    void stop();
    bool running() const;

    const ServiceConfig& config() const;
    // Which store the tokens are in, for the log: never a password.
    std::string storeDescription() const;

    struct State;

  private:
    explicit VelmoraService(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Writes one line to standard output, whole, even with several threads.
void logServiceLine(const std::string& line);

// Sends the log lines to `sink` instead of standard output; an empty sink restores it.
void setServiceLogSink(std::function<void(const std::string&)> sink);

}  // namespace velmora::service
