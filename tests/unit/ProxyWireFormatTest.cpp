#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "api/ProxyWireFormat.h"

namespace velmora {
namespace {

TEST(ProxyWireFormat, RequestsRoundTripAnyText) {
    const LocalProxyRequestPayload payload{
        "He said \"no\" \\ then\nleft\ttab \x01 café 東京 👩‍👩‍👧 שלום", "google",
        "gemini-2.5-flash-preview-05-20", "Rewrite this text."};
    const auto body = encodeRequest(payload);
    ASSERT_TRUE(body);
    EXPECT_EQ(decodeRequest(*body), payload);

    // Compact, exactly the four string members, nothing around the object.
    const auto parsed = nlohmann::json::parse(*body);
    EXPECT_EQ(parsed.size(), 4u);
    for (const char* name : {"prompt", "provider", "model", "user_instructions"}) {
        EXPECT_TRUE(parsed.at(name).is_string()) << name;
    }
    EXPECT_EQ(body->front(), '{');
    EXPECT_EQ(body->back(), '}');
    EXPECT_EQ(body->find("\": "), std::string::npos);
    EXPECT_EQ(body->find('\n'), std::string::npos);

    // Invalid UTF-8 from the clipboard is replaced, never a reason to fail.
    const auto replaced =
        encodeRequest({"a\xFF"
                       "b",
                       "g", "m", "i"});
    ASSERT_TRUE(replaced);
    EXPECT_FALSE(decodeRequest("not json"));
    EXPECT_FALSE(decodeRequest(R"({"prompt":"p","provider":"g","model":"m"})"));
    EXPECT_EQ(decodeRequest(*replaced)->prompt,
              "a\xEF\xBF\xBD"
              "b");
}

std::optional<std::string> decodedText(const std::string& body) {
    auto decoded = decodeResponse(body);
    return decoded ? std::optional(decoded->response) : std::nullopt;
}

// The reader agrees with a full JSON parser on arbitrary input (the `wire` fuzz target); these pin
// the answers and the messages.
TEST(ProxyWireFormat, ResponsesTakeTheTopLevelStringAndCheckTheWholeBody) {
    EXPECT_EQ(decodedText(*encodeResponse({"ü \"q\" \\ \x1f"})), "ü \"q\" \\ \x1f");
    EXPECT_EQ(decodedText(R"({"response":"\"\\\/\b\f\n\r\t\u00e9\u00EA\u0000x"})"),
              std::string("\"\\/\b\f\n\r\t\xC3\xA9\xC3\xAA\0x", 14));
    EXPECT_EQ(decodedText(R"({"response":"\u6771\ud83d\ude00\u007f\u0080\u07ff\u0800\uffff"})"),
              "\xE6\x9D\xB1\xF0\x9F\x98\x80\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    // Values around the answer are checked and skipped, however nested; the last duplicate wins;
    // a member name is compared after unescaping.
    EXPECT_EQ(decodedText(R"({"a":[1,{"b":[true,false,null,{"response":"no"}],"c":{}},[],"s"],)"
                          R"("response":"yes","z":{"response":[-0.5e+3,0,1E+9,2.5e-10,1e400]}})"),
              "yes");
    EXPECT_EQ(decodedText(R"({"response":null,"respons\u0065":"b"})"), "b");
    EXPECT_EQ(decodedText("\xEF\xBB\xBF \t\r\n{ \"response\" :\n\"a\" , \"n\" : 0 } \r\n"), "a");

    for (const std::string bad :
         {"", R"(["response"])", R"({"response":1})", R"({"Response":"a"})",
          R"({"response":"a","response":null})", R"({"meta":{"response":"inner"}})",
          R"({"response":"\ud83d"})", R"({"response":"\ude00"})", R"({"response":"\u12g4"})",
          "{\"response\":\"a\nb\"}", "{\"response\":\"\xED\xA0\x80\"}",
          "{\"response\":\"\xE2\x82\"}", R"({"n":01,"response":"a"})", R"({"n":1e,"response":"a"})",
          R"({"n":trux,"response":"a"})", R"({"response":"a",})", R"({'response':'a'})",
          "{\"response\":\"a\"}\xC2\xA0"}) {
        std::string error;
        EXPECT_FALSE(decodeResponse(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    std::string error;
    EXPECT_FALSE(decodeResponse(R"({"response":"\x"})", &error));
    EXPECT_EQ(error.rfind("The data couldn't be read because it isn't in the correct format.", 0),
              0u)
        << error;
    EXPECT_FALSE(decodeResponse(R"({"response":"a"} x)", &error));
    EXPECT_EQ(error,
              "The data couldn't be read because it isn't in the correct format. (Unexpected text "
              "after the end of the document at byte 17.)");
    EXPECT_FALSE(decodeResponse(R"({'response':'a'})", &error));
    EXPECT_NE(error.find("Expected a member name"), std::string::npos) << error;
    EXPECT_FALSE(decodeRequest(R"({"prompt":"p","provider":"g","model":"m"})", &error));
    EXPECT_EQ(error, "No value associated with key \"user_instructions\".");
    EXPECT_FALSE(decodeResponse("[1]", &error));
    EXPECT_EQ(error, "Expected to decode a dictionary but found something else instead.");

    // Deep nesting is walked without recursion, balanced or not.
    const std::size_t depth = 200000;
    std::string deep = R"({"x":)" + std::string(depth, '[') + std::string(depth, ']') + R"(,"y":)";
    for (std::size_t i = 0; i < depth; ++i) {
        deep += R"({"a":)";
    }
    deep += "0" + std::string(depth, '}');
    EXPECT_EQ(decodedText(deep + R"(,"response":"deep"})"), "deep");
    EXPECT_FALSE(decodedText(std::string(depth, '[')));
    EXPECT_FALSE(decodedText(R"({"a":)" + std::string(depth, '{') + "}"));
}

}  // namespace
}  // namespace velmora
