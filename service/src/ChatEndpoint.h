#pragma once

#include <string>

#include "ServiceConfig.h"
#include "TokenDatabase.h"
#include "UpstreamClient.h"

namespace velmora::service {

// One HTTP answer: status, body and its content type.
struct HttpReply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain; charset=utf-8";
};

// POST /api/chat: checks the bearer token, validates the request record, and relays the
// instruction and the text to the model backend.
class ChatEndpoint {
  public:
    static constexpr size_t kMaxPromptBytes = 1024 * 1024;
    // Large enough for a 1 MiB prompt even with every character escaped, so an oversized
    // prompt still reaches the prompt check and earns its own message.
    static constexpr size_t kMaxBodyBytes = 8 * kMaxPromptBytes;

    ChatEndpoint(const ServiceConfig& config, TokenDatabase& tokens)
        : config_(config), tokens_(tokens) {}

    HttpReply handle(const std::string& authorization, const std::string& body) const;

  private:
    const ServiceConfig& config_;
    TokenDatabase& tokens_;
};

// The token of an "Authorization: Bearer <token>" header, or empty.
std::string bearerToken(const std::string& authorization);

}  // namespace velmora::service
