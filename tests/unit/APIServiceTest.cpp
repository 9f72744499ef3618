#include <gtest/gtest.h>

#include "api/APIService.h"
#include "api/ProxyWireFormat.h"
#include "settings/Catalog.h"
#include "support/TestPlatform.h"

namespace velmora {
namespace {

constexpr const char* kEndpoint = "https://api.example.test/api/chat";

// A result as one comparable line: the answer's text, or the error's kind and message.
std::string render(const ProxyResult& result) {
    if (const auto* answer = std::get_if<ProxyAnswer>(&result)) {
        return answer->text;
    }
    if (std::holds_alternative<ProxyCancelled>(result)) {
        return "<cancelled>";
    }
    const auto& error = std::get<ProxyError>(result);
    static constexpr const char* kKinds[] = {"request", "auth",   "status",
                                             "network", "decode", "empty"};
    return std::string(kKinds[static_cast<int>(error.kind)]) + " " + error.message;
}

class APIServiceTest : public ::testing::Test {
  protected:
    // Starts a call; its one result lands in `result`.
    std::unique_ptr<platform::HttpTask> call(
        std::optional<std::string>& result, const std::string& model = kDefaultModel,
        const std::optional<std::string>& instructions = std::string("Fix it."),
        const std::optional<std::string>& token = std::string("tok")) {
        return service.callLocalProxy("some text", model, instructions, token,
                                      [&result](ProxyResult r) {
                                          EXPECT_FALSE(result) << "delivered twice";
                                          result = render(r);
                                      });
    }
    // Answers a new call and returns the result it delivered.
    std::string answer(int status, std::string body) {
        std::optional<std::string> result;
        call(result);
        t.http.respond(t.http.requests.size() - 1, status, std::move(body));
        EXPECT_FALSE(result) << "delivered before the main queue ran";
        t.queue.runUntilIdle();
        return result.value_or("<none>");
    }
    const platform::HttpRequest& lastRequest() const { return t.http.requests.back()->request; }
    std::optional<std::string> header(const std::string& name) const {
        for (const auto& [key, value] : lastRequest().headers) {
            if (key == name) {
                return value;
            }
        }
        return std::nullopt;
    }

    testing::TestPlatform t;
    testing::LogCapture log;
    APIService service{t.http, t.queue, kEndpoint, builtInProviders()};
};

TEST_F(APIServiceTest, FailuresBeforeSendingAreQueuedAndSendNothing) {
    std::optional<std::string> noModel, unknown, badUrl;
    EXPECT_EQ(call(noModel, ""), nullptr);
    EXPECT_EQ(call(unknown, "gpt-x"), nullptr);
    APIService broken{t.http, t.queue, "not a url", builtInProviders()};
    EXPECT_EQ(broken.callLocalProxy("t", kDefaultModel, std::nullopt, std::nullopt,
                                    [&](ProxyResult r) { badUrl = render(r); }),
              nullptr);
    EXPECT_FALSE(noModel || unknown || badUrl);
    t.queue.runUntilIdle();
    EXPECT_EQ(noModel, "request [Error: No Model Selected]");
    EXPECT_EQ(unknown, "request [Error: Unknown provider for model gpt-x]");
    EXPECT_EQ(badUrl, "request [Error: Invalid URL]");
    EXPECT_TRUE(t.http.requests.empty());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "Error: No model selected for AI call.",
                               "Error: Could not find provider for selected model 'gpt-x'.",
                               "Calling Local Proxy with Provider: google, Model: "
                               "gemini-2.5-flash-preview-05-20...",
                               "Error: Invalid local proxy endpoint URL"}));
}

TEST_F(APIServiceTest, TheRequestCarriesTheTextInstructionAndToken) {
    std::optional<std::string> result;
    call(result);
    EXPECT_EQ(lastRequest().url, kEndpoint);
    EXPECT_EQ(lastRequest().method, "POST");
    EXPECT_EQ(lastRequest().timeoutSeconds, 60.0);
    EXPECT_EQ(header("Content-Type"), "application/json");
    EXPECT_EQ(header("Authorization"), "Bearer tok");
    EXPECT_EQ(decodeRequest(*lastRequest().body),
              (LocalProxyRequestPayload{"some text", "google", kDefaultModel, "Fix it."}));

    call(result, kDefaultModel, std::string(""), std::string(""));
    EXPECT_EQ(header("Authorization"), "Bearer ");
    EXPECT_EQ(decodeRequest(*lastRequest().body)->user_instructions, kDefaultInstruction);
    call(result, kDefaultModel, std::nullopt, std::nullopt);
    EXPECT_EQ(header("Authorization"), std::nullopt);
    EXPECT_TRUE(
        log.contains("Using user_instructions: Act as a helpful AI assistant to process "
                     "the following text."));
}

TEST_F(APIServiceTest, EveryResponseBecomesOneResult) {
    EXPECT_EQ(answer(200, R"({"response":"  hello \n"})"), "hello");
    EXPECT_TRUE(log.contains("Successfully received AI response (5 chars)."));
    EXPECT_EQ(answer(200, R"({"response":"[Error: not ours]"})"), "[Error: not ours]");
    EXPECT_EQ(answer(200, R"({"response":" \u3000 "})"), "empty [Error: Empty Response]");
    EXPECT_EQ(answer(201, "{\"response\":\"e\xCC\x81 👨‍👩‍👧‍👦\"}"),
              "e\xCC\x81 👨‍👩‍👧‍👦");
    EXPECT_TRUE(log.contains("Successfully received AI response (3 chars)."));

    EXPECT_EQ(answer(401, R"({"error":"expired"})"), "auth [Error: Authentication Failed (401)]");
    EXPECT_TRUE(log.contains("Error: Authentication error (401)."));
    EXPECT_EQ(answer(403, "nope"), "auth [Error: Authentication Failed (403)]");
    EXPECT_EQ(answer(500, "oops"), "status [Error: HTTP 500] - Details: oops");
    EXPECT_TRUE(log.contains("Error: HTTP status code 500"));
    EXPECT_EQ(answer(500, "token 401 refused"),
              "status [Error: HTTP 500] - Details: token 401 refused");
    EXPECT_EQ(answer(502, ""), "status [Error: HTTP 502]");
    EXPECT_EQ(answer(503, std::string("\xFF\xFE bad")), "status [Error: HTTP 503]");
    EXPECT_EQ(answer(302, "moved"), "status [Error: HTTP 302] - Details: moved");
    EXPECT_EQ(answer(199, ""), "status [Error: HTTP 199]");

    log.clear();
    EXPECT_EQ(answer(200, ""), "decode [Error: Decoding Simple Response Failed]");
    ASSERT_EQ(log.lines().size(), 5u);
    EXPECT_TRUE(log.lines()[3].starts_with("Error: Failed to decode JSON response: "));
    EXPECT_EQ(log.lines()[4], "Raw Data on Decode Error: ");
    EXPECT_EQ(answer(200, R"({"response":null})"),
              "decode [Error: Decoding Simple Response Failed]");
    log.clear();
    EXPECT_EQ(answer(200, std::string("\xC3\x28")),
              "decode [Error: Decoding Simple Response Failed]");
    EXPECT_EQ(log.lines().size(), 4u) << "a body that is not text is not logged";

    // Any other body reaches the log as one bounded line, cut between characters, with its size.
    answer(200, "line\nbreak\x01" + std::string(2036, 'x') + "é" + std::string(100000, 'y'));
    EXPECT_EQ(log.lines().back(), "Raw Data on Decode Error: line\\nbreak\\x01" +
                                      std::string(2036, 'x') + "... (102049 bytes in all)");
}

TEST_F(APIServiceTest, TransportOutcomes) {
    std::optional<std::string> failed, cancelled;
    call(failed);
    t.http.fail(0, "Could not connect to server");
    t.queue.runUntilIdle();
    EXPECT_EQ(failed, "network [Error: Network Failed (Could not connect to server)]");
    EXPECT_TRUE(log.contains("Error: Network request failed: Could not connect to server"));

    // A cancel reports once, on the main queue, after the cancel call returned.
    auto task = call(cancelled);
    task->cancel();
    task->cancel();
    EXPECT_FALSE(cancelled);
    t.queue.runUntilIdle();
    EXPECT_EQ(cancelled, "<cancelled>");
    EXPECT_TRUE(log.contains("API request was cancelled"));
}

}  // namespace
}  // namespace velmora
