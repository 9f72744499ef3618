#include <gtest/gtest.h>

#include "api/APIService.h"
#include "api/ProxyWireFormat.h"
#include "settings/Catalog.h"
#include "support/TestPlatform.h"

namespace velmora {
namespace {

constexpr const char* kEndpoint = "https://api.example.test/api/chat";

struct Call {
    std::optional<std::string> result;
    int deliveries = 0;
};

class APIServiceTest : public ::testing::Test {
  protected:
    APIService service{platform.http, platform.queue, kEndpoint, builtInProviders()};

    std::shared_ptr<platform::HttpTask> call(
        Call& record, const std::string& model = kDefaultModel,
        const std::optional<std::string>& instructions = std::string("Fix it."),
        const std::optional<std::string>& token = std::string("tok"),
        const std::string& text = "some text") {
        return service.callLocalProxy(text, model, instructions, token,
                                      [&record](const std::string& result) {
                                          record.result = result;
                                          ++record.deliveries;
                                      });
    }

    // Answers the last request and returns the delivered result.
    std::string answer(int status, std::optional<std::string> body) {
        Call record;
        call(record);
        platform.http.respond(platform.http.requests.size() - 1, status, std::move(body));
        EXPECT_FALSE(record.result) << "delivered before the main queue ran";
        platform.queue.runUntilIdle();
        EXPECT_EQ(record.deliveries, 1);
        return record.result.value_or("<none>");
    }

    std::optional<std::string> header(const std::string& name) const {
        for (const auto& [key, value] : platform.http.last().request.headers) {
            if (key == name) {
                return value;
            }
        }
        return std::nullopt;
    }

    testing::TestPlatform platform;
    testing::LogCapture log;
};

TEST_F(APIServiceTest, FailuresBeforeSendingAreQueuedAndSendNothing) {
    Call noModel;
    EXPECT_EQ(call(noModel, ""), nullptr);
    EXPECT_TRUE(log.contains("Error: No model selected for AI call."));
    EXPECT_FALSE(noModel.result);

    Call unknown;
    EXPECT_EQ(call(unknown, "gpt-x"), nullptr);
    EXPECT_TRUE(log.contains("Error: Could not find provider for selected model 'gpt-x'."));
    EXPECT_FALSE(unknown.result);

    platform.queue.runUntilIdle();
    EXPECT_EQ(noModel.result, "[Error: No Model Selected]");
    EXPECT_EQ(unknown.result, "[Error: Unknown provider for model gpt-x]");
    EXPECT_EQ(noModel.deliveries + unknown.deliveries, 2);
    EXPECT_TRUE(platform.http.requests.empty());
    EXPECT_EQ(log.indexOf("Calling Local Proxy with Provider: google, Model: gpt-x..."), -1);

    APIService broken{platform.http, platform.queue, "not a url", builtInProviders()};
    std::optional<std::string> result;
    EXPECT_EQ(broken.callLocalProxy("t", kDefaultModel, std::nullopt, std::nullopt,
                                    [&](const std::string& r) { result = r; }),
              nullptr);
    const int calling = log.indexOf(
        "Calling Local Proxy with Provider: google, Model: gemini-2.5-flash-preview-05-20...");
    EXPECT_GE(calling, 0);
    EXPECT_GT(log.indexOf("Error: Invalid local proxy endpoint URL"), calling);
    EXPECT_FALSE(result);
    platform.queue.runUntilIdle();
    EXPECT_EQ(result, "[Error: Invalid URL]");
    EXPECT_TRUE(platform.http.requests.empty());
}

TEST_F(APIServiceTest, TokenAndInstructionDefaults) {
    Call a, b;
    call(a, kDefaultModel, std::string(""), std::string(""));
    EXPECT_EQ(header("Authorization"), "Bearer ");
    EXPECT_EQ(decodeRequest(*platform.http.last().request.body)->user_instructions,
              kDefaultInstruction);

    call(b, kDefaultModel, std::nullopt, std::nullopt);
    EXPECT_EQ(header("Authorization"), std::nullopt);
    EXPECT_EQ(decodeRequest(*platform.http.last().request.body)->user_instructions,
              kDefaultInstruction);
    EXPECT_TRUE(
        log.contains("Using user_instructions: Act as a helpful AI assistant to process "
                     "the following text."));
}

TEST_F(APIServiceTest, EveryResponseBecomesOneResult) {
    EXPECT_EQ(answer(200, R"({"response":"  hello \n"})"), "hello");
    EXPECT_TRUE(log.contains("Successfully received AI response (5 chars)."));
    EXPECT_EQ(answer(200, R"({"response":"[Error: not ours]"})"), "[Error: not ours]");
    EXPECT_EQ(answer(200, R"({"response":" \u3000 "})"), "");
    EXPECT_TRUE(log.contains("Successfully received AI response (0 chars)."));
    EXPECT_EQ(answer(201, "{\"response\":\"e\xCC\x81 👨‍👩‍👧‍👦\"}"),
              "e\xCC\x81 👨‍👩‍👧‍👦");
    EXPECT_TRUE(log.contains("Successfully received AI response (3 chars)."));

    EXPECT_EQ(answer(401, R"({"error":"expired"})"), "[Error: Authentication Failed (401)]");
    EXPECT_TRUE(log.contains("Error: Authentication error (401)."));
    EXPECT_EQ(answer(403, "nope"), "[Error: Authentication Failed (403)]");
    EXPECT_EQ(answer(500, "oops"), "[Error: HTTP 500] - Details: oops");
    EXPECT_TRUE(log.contains("Error: HTTP status code 500"));
    EXPECT_EQ(answer(500, ""), "[Error: HTTP 500]");
    EXPECT_EQ(answer(502, std::nullopt), "[Error: HTTP 502]");
    EXPECT_EQ(answer(503, std::string("\xFF\xFE bad")), "[Error: HTTP 503]");
    EXPECT_EQ(answer(302, "moved"), "[Error: HTTP 302] - Details: moved");
    EXPECT_EQ(answer(199, std::nullopt), "[Error: HTTP 199]");

    EXPECT_EQ(answer(200, std::nullopt), "[Error: No Data Received]");
    EXPECT_TRUE(log.contains("Error: No data received."));

    log.clear();
    EXPECT_EQ(answer(200, ""), "[Error: Decoding Simple Response Failed]");
    EXPECT_TRUE(log.contains("Raw Data on Decode Error: "));
    const auto lines = log.lines();
    EXPECT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3].rfind("Error: Failed to decode JSON response: ", 0), 0u) << lines[3];

    EXPECT_EQ(answer(200, R"({"response":null})"), "[Error: Decoding Simple Response Failed]");
    EXPECT_EQ(answer(200, R"({"response":5})"), "[Error: Decoding Simple Response Failed]");
    log.clear();
    EXPECT_EQ(answer(200, std::string("\xC3\x28")), "[Error: Decoding Simple Response Failed]");
    for (const auto& line : log.lines()) {
        EXPECT_NE(line.rfind("Raw Data on Decode Error: ", 0), 0u);
    }
}

TEST_F(APIServiceTest, TransportOutcomes) {
    Call failed, missing, notHttp;
    call(failed);
    platform.http.fail(0, 7, "Could not connect to server");
    call(missing);
    platform.http.complete(1, std::string("{}"), std::nullopt, std::nullopt);
    call(notHttp);
    platform.http.complete(2, std::nullopt, platform::HttpResponse{false, 0}, std::nullopt);
    platform.queue.runUntilIdle();
    EXPECT_EQ(failed.result, "[Error: Network Failed (Could not connect to server)]");
    EXPECT_TRUE(log.contains("Error: Network request failed: Could not connect to server"));
    EXPECT_EQ(missing.result, "[Error: Invalid Response (Not HTTP)]");
    EXPECT_EQ(notHttp.result, "[Error: Invalid Response (Not HTTP)]");
    EXPECT_TRUE(log.contains("Error: Invalid HTTP response."));

    // A cancel reports once, on the main queue, after the cancel call returned.
    Call cancelled;
    auto task = call(cancelled);
    ASSERT_NE(task, nullptr);
    task->cancel();
    EXPECT_FALSE(cancelled.result);
    task->cancel();
    platform.queue.runUntilIdle();
    EXPECT_EQ(cancelled.result, "[Error: Request cancelled]");
    EXPECT_EQ(cancelled.deliveries, 1);
    EXPECT_TRUE(log.contains("API request was cancelled"));
}

TEST_F(APIServiceTest, OverlappingCallsDeliverTheirOwnResults) {
    Call first, second;
    call(first);
    call(second);
    platform.http.respond(1, 200, R"({"response":"two"})");
    platform.http.respond(0, 200, R"({"response":"one"})");
    platform.queue.runUntilIdle();
    EXPECT_EQ(first.result, "one");
    EXPECT_EQ(second.result, "two");
}

}  // namespace
}  // namespace velmora
