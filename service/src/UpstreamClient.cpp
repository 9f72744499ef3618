#include "UpstreamClient.h"

#include <memory>
#include <nlohmann/json.hpp>

namespace velmora::service {
namespace {

using nlohmann::json;

// Reasons travel back to the client as one line of detail text.
std::string oneLine(std::string text, size_t limit = 200) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    if (text.size() > limit) {
        text.resize(limit);
        text += "...";
    }
    return text;
}

UpstreamResult failed(std::string reason) {
    return {UpstreamResult::Status::Failed, oneLine(std::move(reason))};
}

// The backend is the operator's own, but its answer is held whole and read as a document, so
// its size and nesting are bounded all the same.
constexpr int kMaxReplyNesting = 64;

// The reply as a document; discarded when it is no JSON or nests deeper than the answer needs.
json parseReply(const std::string& body) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if ((c == '[' || c == '{') && ++depth > kMaxReplyNesting) {
            return json(json::value_t::discarded);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return json::parse(body, nullptr, false);
}

// The upstream's own explanation from an OpenAI-style error body, if it gave one.
std::string upstreamErrorMessage(const std::string& body) {
    const json value = parseReply(body);
    if (!value.is_object()) {
        return {};
    }
    auto error = value.find("error");
    if (error != value.end() && error->is_object()) {
        auto message = error->find("message");
        if (message != error->end() && message->is_string()) {
            return message->get<std::string>();
        }
    }
    if (error != value.end() && error->is_string()) {
        return error->get<std::string>();
    }
    return {};
}

std::string trimmedBase(std::string base) {
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base;
}

}  // namespace

std::string completionRequestBody(const std::string& model, const std::string& instruction,
                                  const std::string& prompt) {
    const json body = {{"model", model},
                       {"messages", json::array({{{"role", "system"}, {"content", instruction}},
                                                 {{"role", "user"}, {"content", prompt}}})}};
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

UpstreamResult parseCompletionReply(long httpStatus, const std::string& body) {
    if (httpStatus < 200 || httpStatus > 299) {
        std::string reason =
            "The model backend answered with status " + std::to_string(httpStatus) + ".";
        if (auto message = upstreamErrorMessage(body); !message.empty()) {
            reason += " " + message;
        }
        return failed(reason);
    }
    const json value = parseReply(body);
    const json* content = nullptr;
    if (value.is_object() && value.contains("choices") && value["choices"].is_array() &&
        !value["choices"].empty()) {
        const json& choice = value["choices"][0];
        if (choice.is_object() && choice.contains("message") && choice["message"].is_object() &&
            choice["message"].contains("content")) {
            content = &choice["message"]["content"];
        }
    }
    if (!content || !content->is_string()) {
        return failed("The model backend's answer holds no message content.");
    }
    return {UpstreamResult::Status::Answered, content->get<std::string>()};
}

std::optional<UpstreamTarget> parseUpstreamUrl(const std::string& url) {
    UpstreamTarget target;
    std::string rest;
    if (url.rfind("http://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("https://", 0) == 0) {
        target.tls = true;
        rest = url.substr(8);
    } else {
        return std::nullopt;
    }
    const auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    target.path =
        trimmedBase(slash == std::string::npos ? "" : rest.substr(slash)) + "/chat/completions";
    target.hostHeader = authority;
    target.port = target.tls ? "443" : "80";
    const auto bracket = authority.rfind(']');
    const auto colon = authority.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        target.port = authority.substr(colon + 1);
        authority.resize(colon);
    }
    if (authority.size() > 1 && authority.front() == '[' && authority.back() == ']') {
        authority = authority.substr(1, authority.size() - 2);
    }
    target.host = authority;
    if (target.host.empty() || target.port.empty()) {
        return std::nullopt;
    }
    return target;
}

}  // namespace velmora::service
