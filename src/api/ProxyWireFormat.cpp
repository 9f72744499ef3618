#include "api/ProxyWireFormat.h"

#include <unicode/utf8.h>

#include <nlohmann/json.hpp>
#include <string_view>

namespace velmora {
namespace {

using nlohmann::json;

void setError(std::string* error, std::string text) {
    if (error) {
        *error = std::move(text);
    }
}

// Appends `text` as a JSON string. Invalid UTF-8 is replaced rather than rejected: the text came
// from the clipboard and must still reach the service. Written by hand, not through a document,
// so a large selection is copied once into a buffer of the right size.
void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    out += '"';
    int32_t i = 0;
    while (i < length) {
        // Plain bytes are copied in runs.
        int32_t run = i;
        while (run < length && s[run] >= 0x20 && s[run] < 0x80 && s[run] != '"' && s[run] != '\\') {
            ++run;
        }
        out.append(text.data() + i, static_cast<std::size_t>(run - i));
        i = run;
        if (i >= length) {
            break;
        }
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0) {
                    out += "\xEF\xBF\xBD";
                } else if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out.append(text.data() + start, static_cast<std::size_t>(i - start));
                }
        }
    }
    out += '"';
}

std::size_t estimatedJsonLength(std::string_view text) {
    return text.size() + text.size() / 16 + 16;
}

std::string encodeObject(std::initializer_list<std::pair<const char*, std::string_view>> members) {
    std::size_t estimate = 2;
    for (const auto& [name, value] : members) {
        estimate += std::char_traits<char>::length(name) + 4 + estimatedJsonLength(value);
    }
    std::string out;
    out.reserve(estimate);
    out += '{';
    for (const auto& [name, value] : members) {
        if (out.size() > 1) {
            out += ',';
        }
        appendJsonString(out, name);
        out += ':';
        appendJsonString(out, value);
    }
    out += '}';
    return out;
}

constexpr const char* kNotJson =
    "The data couldn't be read because it isn't in the correct format.";
constexpr const char* kNotObject =
    "Expected to decode a dictionary but found something else instead.";

// Reads the top-level member "response" without building a document: the string is moved out of
// the parser's buffer, so a large answer is held about once.
class ResponseReader : public nlohmann::json_sax<json> {
  public:
    enum class Found { nothing, string, other };

    bool null() override { return value(Found::other); }
    bool boolean(bool) override { return value(Found::other); }
    bool number_integer(number_integer_t) override { return value(Found::other); }
    bool number_unsigned(number_unsigned_t) override { return value(Found::other); }
    bool number_float(number_float_t, const string_t&) override { return value(Found::other); }
    bool binary(binary_t&) override { return value(Found::other); }
    bool string(string_t& text) override {
        if (depth_ == 1 && atResponse_) {
            response_ = std::move(text);
        }
        return value(Found::string);
    }
    bool start_object(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override {
        atResponse_ = depth_ == 1 && name == "response";
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    bool topLevelIsObject() const { return topLevelIsObject_; }
    Found found() const { return found_; }
    std::string& response() { return response_; }

  private:
    bool value(Found kind) {
        if (depth_ == 0) {
            topLevelIsObject_ = false;
        } else if (depth_ == 1 && atResponse_) {
            found_ = kind;
        }
        return true;
    }
    bool open(bool isObject) {
        if (depth_ == 0) {
            topLevelIsObject_ = isObject;
        } else if (depth_ == 1 && atResponse_) {
            found_ = Found::other;
        }
        ++depth_;
        atResponse_ = false;
        return true;
    }
    bool close() {
        --depth_;
        atResponse_ = false;
        return true;
    }

    int depth_ = 0;
    bool atResponse_ = false;
    bool topLevelIsObject_ = false;
    Found found_ = Found::nothing;
    std::string response_;
};

std::optional<json> parseObject(const std::string& body, std::string* error) {
    json value = json::parse(body, nullptr, false);
    if (value.is_discarded()) {
        setError(error, kNotJson);
        return std::nullopt;
    }
    if (!value.is_object()) {
        setError(error, kNotObject);
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

std::optional<std::string> encodeRequest(const LocalProxyRequestPayload& payload, std::string*) {
    return encodeObject({{"prompt", payload.prompt},
                         {"provider", payload.provider},
                         {"model", payload.model},
                         {"user_instructions", payload.user_instructions}});
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

std::optional<std::string> encodeResponse(const SimpleProxyResponse& response, std::string*) {
    return encodeObject({{"response", response.response}});
}

std::optional<SimpleProxyResponse> decodeResponse(const std::string& body, std::string* error) {
    ResponseReader reader;
    if (!json::sax_parse(body, &reader, json::input_format_t::json, true, false)) {
        setError(error, kNotJson);
        return std::nullopt;
    }
    if (!reader.topLevelIsObject()) {
        setError(error, kNotObject);
        return std::nullopt;
    }
    if (reader.found() == ResponseReader::Found::nothing) {
        setError(error, "No value associated with key \"response\".");
        return std::nullopt;
    }
    if (reader.found() != ResponseReader::Found::string) {
        setError(error, "Expected a string value for key \"response\".");
        return std::nullopt;
    }
    return SimpleProxyResponse{std::move(reader.response())};
}

}  // namespace velmora
