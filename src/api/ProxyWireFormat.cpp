#include "api/ProxyWireFormat.h"

#include <unicode/utf8.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "base/Utf8Sequence.h"

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
        // Plain text, well-formed UTF-8 included, is copied in runs.
        int32_t run = i;
        while (run < length) {
            const uint8_t b = s[run];
            if (b < 0x80) {
                if (b < 0x20 || b == '"' || b == '\\') {
                    break;
                }
                ++run;
                continue;
            }
            const std::size_t sequence =
                multiByteSequenceLength(s + run, static_cast<std::size_t>(length - run));
            if (sequence == 0) {
                break;
            }
            run += static_cast<int32_t>(sequence);
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

std::size_t encodeUtf8(uint32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | c >> 6);
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | c >> 12);
        out[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | c >> 18);
    out[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// Where the bytes of a JSON string go while it is read.
struct SkipSink {
    void append(const char*, std::size_t) {}
};

// Keeps at most a few bytes: enough to recognise a member name.
struct NameSink {
    char bytes[16];
    std::size_t length = 0;
    bool overflowed = false;

    void append(const char* data, std::size_t count) {
        if (count > sizeof bytes - length) {
            overflowed = true;
            return;
        }
        std::memcpy(bytes + length, data, count);
        length += count;
    }
    bool is(std::string_view name) const {
        return !overflowed && std::string_view(bytes, length) == name;
    }
};

struct StringSink {
    std::string& out;
    void append(const char* data, std::size_t count) { out.append(data, count); }
};

// Reads the whole body as JSON without building a document, validating every value, and
// unescapes only the top-level member "response" straight into its result, so a large answer
// is held once. Nesting is tracked on a heap stack, so no input can exhaust the call stack.
class ResponseReader {
  public:
    enum class Found { nothing, string, other };

    explicit ResponseReader(std::string_view body)
        : s_(reinterpret_cast<const uint8_t*>(body.data())), end_(s_ + body.size()), p_(s_) {}

    // False when the body is not JSON; `problem()` then says why.
    bool read();

    const std::string& problem() const { return problem_; }
    bool topLevelIsObject() const { return topLevelIsObject_; }
    Found found() const { return found_; }
    std::string& response() { return response_; }

  private:
    bool fail(const char* what) {
        problem_ = std::string(what) + " at byte " + std::to_string(p_ - s_) + ".";
        return false;
    }
    void skipWhitespace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) {
            ++p_;
        }
    }
    bool memberName(bool& isResponse);
    bool value(bool isResponse);
    bool literal(std::string_view word);
    bool number();
    template <typename Sink>
    bool string(Sink& sink);
    bool escape(uint32_t& codePoint);
    bool hexQuad(uint32_t& unit);
    bool responseString();

    const uint8_t* s_;
    const uint8_t* end_;
    const uint8_t* p_;
    std::string stack_;  // '{' or '[' per open container
    std::string problem_;
    bool topLevelIsObject_ = false;
    Found found_ = Found::nothing;
    std::string response_;
};

bool ResponseReader::read() {
    // A byte order mark may precede the text.
    if (end_ - p_ >= 3 && p_[0] == 0xEF && p_[1] == 0xBB && p_[2] == 0xBF) {
        p_ += 3;
    }
    enum class Expect { value, firstInContainer, separatorOrClose };
    Expect expect = Expect::value;
    bool isResponse = false;
    while (true) {
        skipWhitespace();
        switch (expect) {
            case Expect::value: {
                const std::size_t depth = stack_.size();
                if (!value(isResponse)) {
                    return false;
                }
                expect =
                    stack_.size() > depth ? Expect::firstInContainer : Expect::separatorOrClose;
                break;
            }
            case Expect::firstInContainer:
                if (p_ < end_ && *p_ == (stack_.back() == '{' ? '}' : ']')) {
                    ++p_;
                    stack_.pop_back();
                    expect = Expect::separatorOrClose;
                } else if (stack_.back() == '[') {
                    isResponse = false;
                    expect = Expect::value;
                } else if (!memberName(isResponse)) {
                    return false;
                } else {
                    expect = Expect::value;
                }
                break;
            case Expect::separatorOrClose: {
                if (stack_.empty()) {
                    return p_ == end_ || fail("Unexpected text after the end of the document");
                }
                if (p_ == end_) {
                    return fail("Unexpected end of data");
                }
                const char open = stack_.back();
                if (*p_ == (open == '{' ? '}' : ']')) {
                    ++p_;
                    stack_.pop_back();
                    break;
                }
                if (*p_ != ',') {
                    return fail(open == '{' ? "Expected ',' or '}'" : "Expected ',' or ']'");
                }
                ++p_;
                isResponse = false;
                if (open == '{') {
                    skipWhitespace();
                    if (!memberName(isResponse)) {
                        return false;
                    }
                }
                expect = Expect::value;
                break;
            }
        }
    }
}

// Reads `"name":` and says whether it names the top-level response.
bool ResponseReader::memberName(bool& isResponse) {
    if (p_ == end_ || *p_ != '"') {
        return fail("Expected a member name");
    }
    NameSink name;
    if (!string(name)) {
        return false;
    }
    skipWhitespace();
    if (p_ == end_ || *p_ != ':') {
        return fail("Expected ':'");
    }
    ++p_;
    isResponse = stack_.size() == 1 && name.is("response");
    return true;
}

// Reads one value. An object or array is only opened here; `read` walks its contents.
bool ResponseReader::value(bool isResponse) {
    if (p_ == end_) {
        return fail("Unexpected end of data");
    }
    const uint8_t first = *p_;
    if (stack_.empty()) {
        topLevelIsObject_ = first == '{';
    } else if (isResponse) {
        found_ = first == '"' ? Found::string : Found::other;
    }
    switch (first) {
        case '{':
        case '[':
            ++p_;
            stack_ += static_cast<char>(first);
            return true;
        case '"': {
            if (isResponse) {
                return responseString();
            }
            SkipSink skip;
            return string(skip);
        }
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            if (first == '-' || (first >= '0' && first <= '9')) {
                return number();
            }
            return fail("Unexpected character");
    }
}
bool ResponseReader::literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0) {
        return fail("Unexpected character");
    }
    p_ += word.size();
    return true;
}

bool ResponseReader::number() {
    const auto digits = [this] {
        const uint8_t* start = p_;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
            ++p_;
        }
        return p_ > start;
    };
    if (*p_ == '-') {
        ++p_;
    }
    if (p_ < end_ && *p_ == '0') {
        ++p_;
    } else if (!digits()) {
        return fail("Invalid number");
    }
    if (p_ < end_ && *p_ == '.') {
        ++p_;
        if (!digits()) {
            return fail("Invalid number");
        }
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
        ++p_;
        if (p_ < end_ && (*p_ == '+' || *p_ == '-')) {
            ++p_;
        }
        if (!digits()) {
            return fail("Invalid number");
        }
    }
    return true;
}

// Reads a string whose opening quote is at the current position. Runs of plain text (valid
// UTF-8 without quotes, backslashes or control characters) go to the sink in one piece.
template <typename Sink>
bool ResponseReader::string(Sink& sink) {
    ++p_;
    while (true) {
        const uint8_t* run = p_;
        while (p_ < end_) {
            const uint8_t b = *p_;
            if (b < 0x80) {
                if (b < 0x20 || b == '"' || b == '\\') {
                    break;
                }
                ++p_;
                continue;
            }
            const std::size_t length = multiByteSequenceLength(p_, end_ - p_);
            if (length == 0) {
                break;
            }
            p_ += length;
        }
        sink.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p_ - run));
        if (p_ == end_) {
            return fail("Unterminated string");
        }
        if (*p_ == '"') {
            ++p_;
            return true;
        }
        if (*p_ != '\\') {
            return fail(*p_ < 0x20 ? "Unescaped control character in a string"
                                   : "Invalid UTF-8 in a string");
        }
        uint32_t codePoint = 0;
        if (!escape(codePoint)) {
            return false;
        }
        char utf8[4];
        sink.append(utf8, encodeUtf8(codePoint, utf8));
    }
}

bool ResponseReader::escape(uint32_t& codePoint) {
    ++p_;
    if (p_ == end_) {
        return fail("Unterminated string");
    }
    switch (*p_) {
        case '"':
        case '\\':
        case '/':
            codePoint = *p_;
            break;
        case 'b':
            codePoint = '\b';
            break;
        case 'f':
            codePoint = '\f';
            break;
        case 'n':
            codePoint = '\n';
            break;
        case 'r':
            codePoint = '\r';
            break;
        case 't':
            codePoint = '\t';
            break;
        case 'u': {
            ++p_;
            if (!hexQuad(codePoint)) {
                return false;
            }
            if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
                return fail("Unpaired low surrogate escape");
            }
            if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
                uint32_t low = 0;
                if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') {
                    return fail("Unpaired high surrogate escape");
                }
                p_ += 2;
                if (!hexQuad(low)) {
                    return false;
                }
                if (low < 0xDC00 || low > 0xDFFF) {
                    return fail("Unpaired high surrogate escape");
                }
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
            }
            return true;
        }
        default:
            return fail("Invalid escape");
    }
    ++p_;
    return true;
}

bool ResponseReader::hexQuad(uint32_t& unit) {
    if (end_ - p_ < 4) {
        return fail("Unterminated string");
    }
    unit = 0;
    for (int i = 0; i < 4; ++i, ++p_) {
        const uint8_t b = *p_;
        int digit = -1;
        if (b >= '0' && b <= '9') {
            digit = b - '0';
        } else if (b >= 'a' && b <= 'f') {
            digit = b - 'a' + 10;
        } else if (b >= 'A' && b <= 'F') {
            digit = b - 'A' + 10;
        }
        if (digit < 0) {
            return fail("Invalid \\u escape");
        }
        unit = unit << 4 | static_cast<uint32_t>(digit);
    }
    return true;
}

// The escaped form is never shorter than the text it stands for, so the distance to the closing
// quote bounds the result and one reservation suffices.
bool ResponseReader::responseString() {
    response_.clear();
    const auto* text = reinterpret_cast<const char*>(p_ + 1);
    const auto* end = reinterpret_cast<const char*>(end_);
    for (const char* quote = text; quote < end; ++quote) {
        quote = static_cast<const char*>(std::memchr(quote, '"', end - quote));
        if (!quote) {
            break;
        }
        const char* backslash = quote;
        while (backslash > text && backslash[-1] == '\\') {
            --backslash;
        }
        if ((quote - backslash) % 2 == 0) {
            response_.reserve(static_cast<std::size_t>(quote - text));
            break;
        }
    }
    StringSink sink{response_};
    return string(sink);
}

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
    ResponseReader reader(body);
    if (!reader.read()) {
        setError(error, std::string(kNotJson) + " (" + reader.problem() + ")");
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
