#include "api/ProxyWireFormat.h"

#include <nlohmann/json.hpp>

namespace velmora {
namespace {

using nlohmann::json;

void setError(std::string* error, std::string text) {
    if (error) {
        *error = std::move(text);
    }
}

// Dumps with invalid UTF-8 replaced rather than rejected: the text came from the clipboard and
// must still reach the service.
std::optional<std::string> dump(const json& value, std::string* error) {
    try {
        return value.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const json::exception& e) {
        setError(error, e.what());
        return std::nullopt;
    }
}

std::optional<json> parseObject(const std::string& body, std::string* error) {
    json value = json::parse(body, nullptr, false);
    if (value.is_discarded()) {
        setError(error, "The data couldn't be read because it isn't in the correct format.");
        return std::nullopt;
    }
    if (!value.is_object()) {
        setError(error, "Expected to decode a dictionary but found something else instead.");
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> stringMember(const json& object, const char* name, std::string* error) {
    auto it = object.find(name);
    if (it == object.end()) {
        setError(error, std::string("No value associated with key \"") + name + "\".");
        return std::nullopt;
    }
    if (!it->is_string()) {
        setError(error, std::string("Expected a string value for key \"") + name + "\".");
        return std::nullopt;
    }
    return it->get<std::string>();
}

}  // namespace

std::optional<std::string> encodeRequest(const LocalProxyRequestPayload& payload,
                                         std::string* error) {
    json object = json::object();
    object["prompt"] = payload.prompt;
    object["provider"] = payload.provider;
    object["model"] = payload.model;
    object["user_instructions"] = payload.user_instructions;
    return dump(object, error);
}

std::optional<LocalProxyRequestPayload> decodeRequest(const std::string& body, std::string* error) {
    auto object = parseObject(body, error);
    if (!object) {
        return std::nullopt;
    }
    LocalProxyRequestPayload payload;
    for (auto [name, field] :
         {std::pair{"prompt", &payload.prompt}, std::pair{"provider", &payload.provider},
          std::pair{"model", &payload.model},
          std::pair{"user_instructions", &payload.user_instructions}}) {
        auto value = stringMember(*object, name, error);
        if (!value) {
            return std::nullopt;
        }
        *field = std::move(*value);
    }
    return payload;
}

std::optional<std::string> encodeResponse(const SimpleProxyResponse& response, std::string* error) {
    json object = json::object();
    object["response"] = response.response;
    return dump(object, error);
}

std::optional<SimpleProxyResponse> decodeResponse(const std::string& body, std::string* error) {
    auto object = parseObject(body, error);
    if (!object) {
        return std::nullopt;
    }
    auto value = stringMember(*object, "response", error);
    if (!value) {
        return std::nullopt;
    }
    return SimpleProxyResponse{std::move(*value)};
}

}  // namespace velmora
