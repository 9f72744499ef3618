#include "ChatEndpoint.h"

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string_view>

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

constexpr const char* kNotJson =
    "The data couldn't be read because it isn't in the correct format.";
constexpr const char* kNotObject =
    "Expected to decode a dictionary but found something else instead.";

// Reads the request record in one pass without building a document: one object of exactly the
// four string members, each once. Nothing may nest inside it, so a body of brackets stops at its
// second byte, and an oversized prompt stops the reading where it ends.
class RequestReader {
  public:
    using json = nlohmann::json;

    explicit RequestReader(LocalProxyRequestPayload& request) : request_(request) {}

    // The refusal, or none when `body` is a complete record.
    std::optional<HttpReply> read(const std::string& body) {
        if (json::sax_parse(body, this)) {
            for (const auto& [name, field] : members()) {
                if (!seen_.contains(name)) {
                    return text(400,
                                std::string("Invalid request: No value associated with key \"") +
                                    name + "\".");
                }
            }
            return std::nullopt;
        }
        return problem_ ? *problem_ : text(400, std::string("Invalid request: ") + kNotJson);
    }

    bool start_object(std::size_t) { return depth_++ == 0 || notString(); }
    bool end_object() { return true; }
    bool key(std::string& name) {
        for (const auto& [member, field] : members()) {
            if (name == member) {
                current_ = field;
                return seen_.insert(member).second || refuse("Duplicate member \"" + name + "\".");
            }
        }
        return refuse("Unexpected member \"" + name + "\".");
    }
    bool string(std::string& value) {
        if (depth_ == 0) {
            return refuse(kNotObject);
        }
        if (current_ == &request_.prompt && value.size() > ChatEndpoint::kMaxPromptBytes) {
            problem_ = text(413, "The prompt is larger than 1 MiB.");
            return false;
        }
        *current_ = std::move(value);
        return true;
    }
    bool null() { return notString(); }
    bool boolean(bool) { return notString(); }
    bool number_integer(json::number_integer_t) { return notString(); }
    bool number_unsigned(json::number_unsigned_t) { return notString(); }
    bool number_float(json::number_float_t, const std::string&) { return notString(); }
    bool binary(json::binary_t&) { return notString(); }
    bool start_array(std::size_t) { return notString(); }
    bool end_array() { return false; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

  private:
    std::array<std::pair<const char*, std::string*>, 4> members() const {
        return {{{"prompt", &request_.prompt},
                 {"provider", &request_.provider},
                 {"model", &request_.model},
                 {"user_instructions", &request_.user_instructions}}};
    }
    bool refuse(std::string reason) {
        problem_ = text(400, "Invalid request: " + std::move(reason));
        return false;
    }
    // A value other than a string: at the top the body is no object, inside it a member is
    // no string.
    bool notString() {
        if (depth_ == 0 || current_ == nullptr) {
            return refuse(kNotObject);
        }
        for (const auto& [name, field] : members()) {
            if (field == current_) {
                return refuse(std::string("Expected a string value for key \"") + name + "\".");
            }
        }
        return false;
    }

    LocalProxyRequestPayload& request_;
    int depth_ = 0;
    std::string* current_ = nullptr;
    std::set<std::string_view> seen_;
    std::optional<HttpReply> problem_;
};

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

std::optional<HttpReply> ChatEndpoint::read(const std::string& body,
                                            LocalProxyRequestPayload& request) const {
    if (auto refusal = RequestReader(request).read(body)) {
        return refusal;
    }
    return validate(request, config_);
}

HttpReply ChatEndpoint::noBackend() {
    return text(503,
                "No model backend is configured on this service. The service has no model to "
                "ask: its operator sets one with upstream-url in the service's configuration file "
                "or --upstream-url on its command line (e.g. http://127.0.0.1:11434/v1 for a local "
                "Ollama); scripts/run.sh passes the environment variable VELMORA_UPSTREAM_URL on "
                "as that setting.");
}

HttpReply ChatEndpoint::answer(const UpstreamResult& result) const {
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
