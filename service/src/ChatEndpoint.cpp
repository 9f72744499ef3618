#include "ChatEndpoint.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "api/ProxyWireFormat.h"

namespace velmora::service {
namespace {

HttpReply text(int status, std::string message) {
    return {status, std::move(message)};
}

std::string secondsText(double seconds) {
    if (seconds == std::floor(seconds)) {
        return std::to_string(static_cast<long long>(seconds));
    }
    std::string text = std::to_string(seconds);
    text.erase(text.find_last_not_of('0') + 1);
    return text;
}

// The record has exactly four string members; the wire decoder checks those, this the rest.
std::optional<std::string> unexpectedMember(const std::string& body) {
    const auto object = nlohmann::json::parse(body, nullptr, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    for (const auto& [name, value] : object.items()) {
        if (name != "prompt" && name != "provider" && name != "model" &&
            name != "user_instructions") {
            return "Unexpected member \"" + name + "\".";
        }
    }
    return std::nullopt;
}

std::optional<HttpReply> validate(const LocalProxyRequestPayload& request,
                                  const ServiceConfig& config) {
    if (request.prompt.size() > ChatEndpoint::kMaxPromptBytes) {
        return text(413, "The prompt is larger than 1 MiB.");
    }
    if (request.prompt.empty()) {
        return text(400, "The member \"prompt\" is empty.");
    }
    if (request.user_instructions.empty()) {
        return text(400, "The member \"user_instructions\" is empty.");
    }
    if (request.provider != kCatalogProvider) {
        return text(400, "Unknown provider \"" + request.provider + "\".");
    }
    if (!config.modelMap.contains(request.model)) {
        return text(400, "Unknown model \"" + request.model + "\" for provider \"" +
                             request.provider + "\".");
    }
    return std::nullopt;
}

}  // namespace

std::string bearerToken(const std::string& authorization) {
    static constexpr std::string_view kScheme = "Bearer ";
    if (authorization.size() <= kScheme.size() ||
        authorization.compare(0, kScheme.size(), kScheme) != 0) {
        return {};
    }
    return authorization.substr(kScheme.size());
}

HttpReply ChatEndpoint::handle(const std::string& authorization, const std::string& body) const {
    const std::string token = bearerToken(authorization);
    if (token.empty()) {
        return text(401, "Missing bearer token.");
    }
    if (!tokens_.acceptToken(token)) {
        return text(401, "Unknown or revoked token.");
    }

    std::string error;
    const auto request = decodeRequest(body, &error);
    if (!request) {
        return text(400, "Invalid request: " + error);
    }
    if (auto member = unexpectedMember(body)) {
        return text(400, "Invalid request: " + *member);
    }
    if (auto problem = validate(*request, config_)) {
        return *problem;
    }

    if (config_.upstreamUrl.empty()) {
        return text(503, "No model backend is configured on this service.");
    }
    const UpstreamSettings upstream{config_.upstreamUrl, config_.upstreamApiKey,
                                    config_.upstreamCaFile, config_.upstreamTimeout};
    const UpstreamResult result = requestCompletion(upstream, config_.modelMap.at(request->model),
                                                    request->user_instructions, request->prompt);
    switch (result.status) {
        case UpstreamResult::Status::TimedOut:
            return text(504, "The model backend did not answer within " +
                                 secondsText(config_.upstreamTimeout) + " seconds.");
        case UpstreamResult::Status::Failed:
            return text(502, result.text);
        case UpstreamResult::Status::Answered:
            break;
    }
    auto encoded = encodeResponse({result.text});
    if (!encoded) {
        return text(502, "The model backend's answer could not be encoded.");
    }
    return {200, *encoded, "application/json"};
}

}  // namespace velmora::service
