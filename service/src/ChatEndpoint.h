#pragma once

#include <string>

#include <optional>

#include "ServiceConfig.h"
#include "UpstreamClient.h"
#include "api/ProxyWireFormat.h"

namespace velmora::service {

// One HTTP answer: status, body and its content type.
struct HttpReply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain; charset=utf-8";
};

// POST /api/chat, once its bearer token has been accepted: reads and validates the request
// record, and turns the model backend's outcome into the answer. The relay itself is the
// server's, asynchronous.
class ChatEndpoint {
  public:
    static constexpr size_t kMaxPromptBytes = 1024 * 1024;
    // Large enough for a 1 MiB prompt even with every character escaped, so an oversized
    // prompt still reaches the prompt check and earns its own message.
    static constexpr size_t kMaxBodyBytes = 8 * kMaxPromptBytes;

    explicit ChatEndpoint(const ServiceConfig& config) : config_(config) {}

    // Reads `body` in one pass into `request`: the refusal (400, 413), or none for a record the
    // catalog serves.
    std::optional<HttpReply> read(const std::string& body, LocalProxyRequestPayload& request) const;
    // The answer to a request that passed when no model backend is configured (503).
    static HttpReply noBackend();
    // The answer for the backend's outcome.
    HttpReply answer(const UpstreamResult& result) const;

  private:
    const ServiceConfig& config_;
};

// The token of an "Authorization: Bearer <token>" header, or empty.
std::string bearerToken(const std::string& authorization);

}  // namespace velmora::service
