#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
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

TEST(ProxyWireFormat, ResponsesDecodeOnlyAStringMember) {
    EXPECT_EQ(decodeResponse(R"({"response":"ok","usage":{"tokens":3}})"),
              SimpleProxyResponse{"ok"});
    EXPECT_EQ(decodeResponse(R"({"response":""})"), SimpleProxyResponse{""});
    EXPECT_EQ(decodeResponse(R"({"response":"  a\n"})"), SimpleProxyResponse{"  a\n"});
    EXPECT_EQ(decodeResponse(*encodeResponse({"ü \"q\" \\"})), SimpleProxyResponse{"ü \"q\" \\"});

    // Only the top-level member counts; the last of duplicate members wins.
    EXPECT_EQ(decodeResponse(R"({"meta":{"response":1},"response":"top"})"),
              SimpleProxyResponse{"top"});
    EXPECT_FALSE(decodeResponse(R"({"response":"a","response":null})"));
    EXPECT_FALSE(decodeResponse(R"({"meta":{"response":"inner"}})"));

    for (const std::string bad :
         {"", "  ", "nope", R"(["response"])", R"("response")", R"({"response":null})",
          R"({"response":1})", R"({"response":true})", R"({"response":["a"]})",
          R"({"response":{"text":"a"}})", R"({"Response":"a"})", R"({"text":"a"})",
          R"({"response":"a")"}) {
        std::string error;
        EXPECT_FALSE(decodeResponse(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

std::optional<std::string> decodedText(const std::string& body) {
    auto decoded = decodeResponse(body);
    return decoded ? std::optional(decoded->response) : std::nullopt;
}

TEST(ProxyWireFormat, ResponsesUnescapeEveryJsonEscape) {
    EXPECT_EQ(decodedText(R"({"response":"\"\\\/\b\f\n\r\t\u00e9\u00E9\u0000x"})"),
              std::string("\"\\/\b\f\n\r\t\xC3\xA9\xC3\xA9\0x", 14));
    EXPECT_EQ(decodedText(R"({"response":"\u6771\ud83d\ude00\uD83D\uDC4D"})"),
              "\xE6\x9D\xB1\xF0\x9F\x98\x80\xF0\x9F\x91\x8D");
    EXPECT_EQ(decodedText(R"({"response":"\u007f\u0080\u07ff\u0800\uffff"})"),
              "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(decodedText("{\"response\":\"caf\xC3\xA9 \xF0\x9F\x91\xA9\xE2\x80\x8D\"}"),
              "caf\xC3\xA9 \xF0\x9F\x91\xA9\xE2\x80\x8D");
    // A member name is compared after unescaping; a longer one is another member.
    EXPECT_EQ(decodedText(R"({"respons\u0065":"k"})"), "k");
    EXPECT_FALSE(decodedText(R"({"responses":"x","respons":"y"})"));

    // Lone or mismatched surrogates, bad escapes and unescaped controls are not JSON.
    for (const std::string bad :
         {R"({"response":"\ud83d"})", R"({"response":"\ud83dx"})", R"({"response":"\ude00"})",
          R"({"response":"\ud83d\u0041"})", R"({"response":"\ud83d\ud83d"})",
          R"({"response":"\u12"})", R"({"response":"\u12g4"})", R"({"response":"\x"})",
          R"({"response":"\)", "{\"response\":\"a\nb\"}", "{\"response\":\"\x01\"}",
          "{\"response\":\"\xFF\"}", "{\"response\":\"\xC0\xAF\"}",
          "{\"response\":\"\xED\xA0\x80\"}", "{\"response\":\"\xF4\x90\x80\x80\"}",
          "{\"response\":\"\xE2\x82\"}", "{\"response\":\"a\",\"x\":\"\xE2\x82\"}",
          "{\"response\":\"\xE2\x82"}) {
        std::string error;
        EXPECT_FALSE(decodeResponse(bad, &error)) << bad;
        EXPECT_EQ(
            error.rfind("The data couldn't be read because it isn't in the correct format.", 0), 0u)
            << error;
    }
}

TEST(ProxyWireFormat, ResponsesValidateTheWholeBody) {
    // Values around the answer are checked and skipped, however nested; the last duplicate wins.
    EXPECT_EQ(decodedText(R"({"a":[1,{"b":[true,false,null,{"response":"no"}],"c":{}},[],"s"],)"
                          R"("response":"yes","z":{"response":[-0.5e+3,0,1E+9,2.5e-10,1e400]}})"),
              "yes");
    EXPECT_EQ(decodedText(R"({"response":null,"response":"b"})"), "b");
    EXPECT_EQ(decodedText(R"({"response":"a","response":"b"})"), "b");
    EXPECT_EQ(decodedText(" \t\r\n{ \"response\" :\n\"a\" , \"n\" : 0 } \r\n"), "a");
    EXPECT_EQ(decodedText("\xEF\xBB\xBF{\"response\":\"bom\"}"), "bom");

    // Malformed numbers and literals, trailing or missing punctuation, non-JSON quoting and space.
    std::vector<std::string> bodies{std::string("{\"response\":\"a\"}\0", 17)};
    std::istringstream list(
        R"({"n":01,"response":"a"}|{"n":1.,"response":"a"}|{"n":.5,"response":"a"}|)"
        R"({"n":+1,"response":"a"}|{"n":-,"response":"a"}|{"n":1e,"response":"a"}|)"
        R"({"n":0x1,"response":"a"}|{"n":NaN,"response":"a"}|{"n":tru,"response":"a"}|)"
        R"({"n":flase,"response":"a"}|{"n":nul}|{"response":"a"}x|{"response":"a"}{}|)"
        R"({"response":"a"},|{"response":"a",}|{"response":"a" "b":1}|{"response" "a"}|)"
        R"({response:"a"}|{'response':'a'}|{"response":"a"]|{"a":[1,]}|{"a":[1 2]}|)"
        "\f{\"response\":\"a\"}|{\"response\":\"a\"}\xC2\xA0");
    for (std::string body; std::getline(list, body, '|');) {
        bodies.push_back(body);
    }
    for (const std::string& bad : bodies) {
        std::string error;
        EXPECT_FALSE(decodeResponse(bad, &error)) << bad;
        EXPECT_EQ(
            error.rfind("The data couldn't be read because it isn't in the correct format.", 0), 0u)
            << error;
    }
    std::string error;
    EXPECT_FALSE(decodeResponse(R"({"response":"a"} x)", &error));
    EXPECT_NE(error.find("byte 17"), std::string::npos) << error;
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
