#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <nlohmann/json.hpp>

#include "ChatEndpoint.h"
#include "ServiceTestSupport.h"
#include "api/ProxyWireFormat.h"

namespace velmora::service::testing {
namespace {

using nlohmann::json;

// A service relaying to `upstreamUrl`, and a token signed in on it.
struct SignedIn {
    explicit SignedIn(const std::string& upstreamUrl, double upstreamTimeout = 55.0)
        : service([&] {
              ServiceConfig config = testConfig();
              config.upstreamUrl = upstreamUrl;
              config.upstreamApiKey = "upstream-key";
              config.upstreamTimeout = upstreamTimeout;
              config.modelMap[kDefaultModel] = "llama3.2";
              return config;
          }()),
          token(service.signIn("pw")) {}

    // The status and body of a chat request with this token.
    std::pair<int, std::string> post(const std::string& body) const {
        auto result = service.postChat(body, token);
        return result ? std::pair(result->status, result->body) : std::pair(0, std::string());
    }

    RunningService service;
    std::string token;
};

TEST(ChatEndpoint, RelaysTheInstructionAndTextAndLogsNoneOfIt) {
    ScriptedUpstream upstream;
    upstream.answerWith("Ünïcode \"reply\"\nwith lines");
    SignedIn client(upstream.baseUrl());
    LogLines log;
    const std::string prompt = "Selected \"text\" with \\ and ✓\nsecret-prompt-words";
    auto result = client.service.postChat(chatBody(prompt, "Be brief."), client.token);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(decodeResponse(result->body)->response, "Ünïcode \"reply\"\nwith lines");

    const auto received = upstream.received.waitFor(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].path, "/v1/chat/completions");
    EXPECT_EQ(received[0].get_header_value("Authorization"), "Bearer upstream-key");
    const json sent = json::parse(received[0].body);
    EXPECT_EQ(sent["model"], "llama3.2");
    EXPECT_EQ(sent["messages"], json::parse(R"([{"role":"system","content":"Be brief."},
        {"role":"user","content":"Selected \"text\" with \\ and ✓\nsecret-prompt-words"}])"));

    const std::string lines = log.waitForLine("POST /api/chat 200 ");
    for (const std::string& secret : {std::string("secret-prompt"), std::string("reply"),
                                      std::string("Be brief"), client.token}) {
        EXPECT_EQ(lines.find(secret), std::string::npos) << secret << " in " << lines;
    }
}

TEST(ChatEndpoint, RequiresABearerTokenIssuedHere) {
    ScriptedUpstream upstream;
    upstream.answerWith("never");
    SignedIn client(upstream.baseUrl());
    ASSERT_EQ(client.token.size(), 43u);
    for (const auto& authorization :
         {std::string(), std::string("Bearer "), std::string("Basic dXNlcjpwYXNz"),
          "bearer " + client.token, "Bearer " + client.token + "x"}) {
        httplib::Headers headers;
        if (!authorization.empty()) {
            headers.emplace("Authorization", authorization);
        }
        auto result = client.service.client()->Post("/api/chat", headers, chatBody("t"), "");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 401) << authorization;
        EXPECT_EQ(result->get_header_value("WWW-Authenticate"), "Bearer");
    }
    EXPECT_TRUE(upstream.received.waitFor(0).empty());
}

TEST(ChatEndpoint, RejectsEachMalformedBodyWithItsReason) {
    ScriptedUpstream upstream;
    upstream.answerWith("ok");
    SignedIn client(upstream.baseUrl());
    const std::string rest = R"(,"provider":"google","model":")" + std::string(kDefaultModel) +
                             R"(","user_instructions":"x"})";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"not json", "correct format"},
        {R"({"prompt":"t","provider":"google","user_instructions":"x"})", "\"model\""},
        {R"({"prompt":42)" + rest, "string value for key \"prompt\""},
        {R"({"prompt":"t","extra":1)" + rest, "Unexpected member \"extra\""},
        {R"({"prompt":"")" + rest, "\"prompt\" is empty"},
        {chatBody("t", ""), "\"user_instructions\" is empty"},
        {R"({"prompt":"t","provider":"openai","model":"m","user_instructions":"x"})",
         "Unknown provider \"openai\""},
        {R"({"prompt":"t","provider":"google","model":"gpt-4","user_instructions":"x"})",
         "Unknown model \"gpt-4\""},
    };
    for (const auto& [body, reason] : cases) {
        const auto [status, text] = client.post(body);
        EXPECT_EQ(status, 400) << body;
        EXPECT_NE(text.find(reason), std::string::npos) << body << " -> " << text;
    }
    // A prompt of 1 MiB passes; one byte more does not, even when escaping swells the body.
    const std::size_t limit = 1024 * 1024;
    EXPECT_EQ(client.post(chatBody(std::string(limit, 'a'))).first, 200);
    const auto tooLarge = std::pair(413, std::string("The prompt is larger than 1 MiB."));
    EXPECT_EQ(client.post(chatBody(std::string(limit + 1, 'a'))), tooLarge);
    EXPECT_EQ(client.post(chatBody(std::string(limit + 1, '\x01'))), tooLarge);
    EXPECT_EQ(upstream.received.waitFor(1).size(), 1u);
}

// `mebibytes` of zeros, gzipped to about a thousandth of that.
std::string gzippedZeros(int mebibytes) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[64 * 1024];
    for (int i = 0; i <= mebibytes; ++i) {
        stream.next_in = reinterpret_cast<Bytef*>(zeros.data());
        stream.avail_in = i < mebibytes ? static_cast<uInt>(zeros.size()) : 0;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, i < mebibytes ? Z_NO_FLUSH : Z_FINISH);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

TEST(ChatEndpoint, RefusesWhatWouldTakeMemoryBeforeHoldingIt) {
    SignedIn client("");
    // An encoded body is refused unread, so never inflated.
    const httplib::Headers gzip = {{"Authorization", "Bearer " + client.token},
                                   {"Content-Encoding", "gzip"}};
    const std::string bomb = gzippedZeros(128);
    for (const char* path : {"/api/chat", "/auth/google"}) {
        auto encoded = client.service.client()->Post(path, gzip, bomb, "");
        ASSERT_TRUE(encoded);
        EXPECT_EQ(encoded->status, 415) << path;
    }

    // Nesting is refused where it starts, at the top or inside.
    EXPECT_EQ(client.post(std::string(ChatEndpoint::kMaxBodyBytes, '[')),
              std::pair(400, std::string("Invalid request: Expected to decode a dictionary but "
                                         "found something else instead.")));
    EXPECT_EQ(client.post(R"({"prompt":)" + std::string(1 << 20, '{')),
              std::pair(400, std::string("Invalid request: Expected a string value for key "
                                         "\"prompt\".")));

    // A head beyond its allowance ends the connection; the service goes on.
    httplib::Headers filler;
    for (int i = 0; i < 100; ++i) {
        filler.emplace("X-Filler-" + std::to_string(i), std::string(4000, 'x'));
    }
    EXPECT_FALSE(client.service.client()->Get("/latest/version.json", filler));
    EXPECT_EQ(client.service.client()->Get("/latest/version.json")->status, 200);

    // Inflating the body or a document of the brackets would have taken hundreds of MB.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 100 * 1024) << "KiB at the peak";
}

TEST(ChatEndpoint, EachUpstreamFailureHasItsStatus) {
    ScriptedUpstream upstream;
    SignedIn client(upstream.baseUrl());
    upstream.reply(500, R"({"error":{"message":"model \"llama3.2\" not found,\ntry pulling"}})");
    EXPECT_EQ(client.post(chatBody("t")),
              std::pair(502, std::string("The model backend answered with status 500. model "
                                         "\"llama3.2\" not found, try pulling")));
    upstream.reply(200, R"({"choices":[{"message":{"content":null}}]})");
    EXPECT_EQ(client.post(chatBody("t")),
              std::pair(502, std::string("The model backend's answer holds no message content.")));

    const testtls::SilentPort refusing(false);
    const testtls::SilentPort silent(true);
    const auto at = [](const testtls::SilentPort& port) {
        return "http://127.0.0.1:" + std::to_string(port.port());
    };
    for (const auto& [url, status, reason] :
         {std::tuple(at(refusing), 502, "The model backend could not be reached: "),
          std::tuple(at(silent), 504, "The model backend did not answer within 0.5 seconds."),
          std::tuple(std::string(), 503, "No model backend is configured on this service.")}) {
        const auto [got, text] = SignedIn(url, 0.5).post(chatBody("t"));
        EXPECT_EQ(got, status) << url;
        EXPECT_EQ(text.rfind(reason, 0), 0u) << text;
    }
}

}  // namespace
}  // namespace velmora::service::testing
