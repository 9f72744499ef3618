// The chat records on the wire: the response reader against a full JSON parser, and round trips
// of records made from the input.
#include <unicode/unistr.h>

#include <nlohmann/json.hpp>

#include "FuzzSupport.h"
#include "api/ProxyWireFormat.h"

using namespace velmora;

namespace {

// The text ICU makes of the bytes: each ill-formed sequence becomes one U+FFFD.
std::string repaired(const std::string& bytes) {
    std::string out;
    return icu::UnicodeString::fromUTF8(bytes).toUTF8String(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    // The reader accepts any number the grammar allows; the parser rejects those beyond a double
    // and takes a NUL byte for the end of the text.
    const auto decoded = decodeResponse(input);
    std::optional<nlohmann::json> document;
    bool outOfRange = false;
    try {
        document = nlohmann::json::parse(input);
    } catch (const nlohmann::json::out_of_range&) {
        outOfRange = true;
    } catch (const nlohmann::json::parse_error&) {
    }
    if (!document || input.find('\0') != std::string::npos) {
        FUZZ_CHECK(!decoded || outOfRange);
    } else {
        const auto member = document->is_object() ? document->find("response") : document->end();
        const bool answered = member != document->end() && member->is_string();
        FUZZ_CHECK(decoded.has_value() == answered);
        FUZZ_CHECK(!answered || decoded->response == member->get<std::string>());
    }

    // Any bytes reach the other side, ill-formed sequences replaced.
    const auto response = encodeResponse({input});
    FUZZ_CHECK(response && decodeResponse(*response) == SimpleProxyResponse{repaired(input)});

    // Four fields separated by the unit separator.
    auto fields = fuzz::split(input, '\x1f');
    fields.resize(4);
    const LocalProxyRequestPayload payload{fields[0], fields[1], fields[2], fields[3]};
    const LocalProxyRequestPayload expected{repaired(payload.prompt), repaired(payload.provider),
                                            repaired(payload.model),
                                            repaired(payload.user_instructions)};
    const auto request = encodeRequest(payload);
    FUZZ_CHECK(request && decodeRequest(*request) == expected);
    return 0;
}
