#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ssl/context.hpp>
#include <functional>
#include <memory>
#include <string>

#include "UpstreamClient.h"

namespace velmora::service {

// Relays chat-completions requests without holding a thread while the backend thinks: each one
// is a connection on the event loop, with one deadline for the whole exchange.
class UpstreamRelay {
  public:
    // None, with `error` set, when the URL or the CA file cannot be used.
    static std::unique_ptr<UpstreamRelay> create(const UpstreamSettings& settings,
                                                 std::string* error);

    // Asks for one answer to `prompt` under the system message `instruction`; `done` runs on
    // `executor` with the outcome.
    void complete(const boost::asio::any_io_executor& executor, const std::string& model,
                  const std::string& instruction, const std::string& prompt,
                  std::function<void(UpstreamResult)> done);

  private:
    UpstreamRelay(UpstreamSettings settings, UpstreamTarget target)
        : settings_(std::move(settings)), target_(std::move(target)) {}

    UpstreamSettings settings_;
    UpstreamTarget target_;
    std::unique_ptr<boost::asio::ssl::context> tls_;
};

}  // namespace velmora::service
