#pragma once

#include <optional>
#include <string>

namespace velmora {

// The chat endpoint's request body.
struct LocalProxyRequestPayload {
    std::string prompt;
    std::string provider;
    std::string model;
    std::string user_instructions;

    bool operator==(const LocalProxyRequestPayload&) const = default;
};

// The chat endpoint's response body.
struct SimpleProxyResponse {
    std::string response;

    bool operator==(const SimpleProxyResponse&) const = default;
};

// Encoding reports failure through `error` (a description) and returns none.
std::optional<std::string> encodeRequest(const LocalProxyRequestPayload& payload,
                                         std::string* error = nullptr);
std::optional<LocalProxyRequestPayload> decodeRequest(const std::string& body,
                                                      std::string* error = nullptr);
std::optional<std::string> encodeResponse(const SimpleProxyResponse& response,
                                          std::string* error = nullptr);
// One JSON object with a string member "response"; other members are ignored.
std::optional<SimpleProxyResponse> decodeResponse(const std::string& body,
                                                  std::string* error = nullptr);

}  // namespace velmora
