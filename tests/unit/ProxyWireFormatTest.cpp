#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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

}  // namespace
}  // namespace velmora
