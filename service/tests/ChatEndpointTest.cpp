#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "ServiceTestSupport.h"
#include "api/ProxyWireFormat.h"

namespace velmora::service::testing {
namespace {

using nlohmann::json;

// A signed-in client against a service whose backend is `upstream`.
struct ChatFixture {
    explicit ChatFixture(ScriptedUpstream& upstream, double timeout = 55.0)
        : service([&] {
              ServiceConfig config = testConfig();
              config.passphrase = "open sesame";
              config.upstreamUrl = upstream.baseUrl();
              config.upstreamApiKey = "upstream-key";
              config.upstreamTimeout = timeout;
              config.modelMap["gemini-2.5-flash-preview-05-20"] = "llama3.2";
              return config;
          }()) {
        token = service.signIn("open sesame");
        EXPECT_EQ(token.size(), 43u);
    }

    RunningService service;
    std::string token;
};

TEST(ChatEndpoint, RelaysTheInstructionAndTextToTheUpstreamAndReturnsItsAnswer) {
    ScriptedUpstream upstream;
    upstream.answerWith("Ünïcode \"answer\"\nwith lines");
    ChatFixture fixture(upstream);
    const std::string prompt = "Selected \"text\" with \\ and ✓\nsecret-prompt-words";

    LogRecorder recorder;
    auto result = fixture.service.postChat(chatBody(prompt, "Be brief."), fixture.token);
    EXPECT_TRUE(recorder.waitForLine("POST /api/chat 200 "));
    const std::string log = recorder.text();

    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    auto answer = decodeResponse(result->body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->response, "Ünïcode \"answer\"\nwith lines");

    const auto received = upstream.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].path, "/v1/chat/completions");
    EXPECT_EQ(received[0].authorization, "Bearer upstream-key");
    const json sent = json::parse(received[0].body);
    EXPECT_EQ(sent["model"], "llama3.2");
    EXPECT_EQ(sent["messages"], json::parse(R"([{"role":"system","content":"Be brief."},
        {"role":"user","content":"Selected \"text\" with \\ and ✓\nsecret-prompt-words"}])"));

    // One line for the request, and none of the secrets in it.
    EXPECT_NE(log.find(" ms"), std::string::npos) << log;
    EXPECT_EQ(log.find("secret-prompt-words"), std::string::npos) << log;
    EXPECT_EQ(log.find("answer"), std::string::npos) << log;
    EXPECT_EQ(log.find(fixture.token), std::string::npos) << log;
}

TEST(ChatEndpoint, RejectsMissingMalformedAndUnknownTokensWithoutCallingTheUpstream) {
    ScriptedUpstream upstream;
    upstream.answerWith("never");
    ChatFixture fixture(upstream);
    const std::string body = chatBody("text");

    for (const auto& authorization :
         {std::string(), std::string("Bearer "), std::string("Basic dXNlcjpwYXNz"),
          "bearer " + fixture.token, "Bearer " + fixture.token + "x",
          std::string("Bearer AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA")}) {
        httplib::Headers headers;
        if (!authorization.empty()) {
            headers.emplace("Authorization", authorization);
        }
        auto result =
            fixture.service.client()->Post("/api/chat", headers, body, "application/json");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 401) << authorization;
        EXPECT_FALSE(result->body.empty());
    }
    EXPECT_TRUE(upstream.received().empty());
}

TEST(ChatEndpoint, RejectsEachMalformedBodyWithTheReason) {
    ScriptedUpstream upstream;
    upstream.answerWith("never");
    ChatFixture fixture(upstream);
    const std::string model = "\"model\":\"gemini-2.5-flash-preview-05-20\"";
    const std::string rest = ",\"provider\":\"google\"," + model + ",\"user_instructions\":\"x\"}";

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "correct format"},
        {"not json", "correct format"},
        {"[\"prompt\"]", "dictionary"},
        {"{\"provider\":\"google\"," + model + ",\"user_instructions\":\"x\"}", "\"prompt\""},
        {"{\"prompt\":\"t\"," + model + ",\"user_instructions\":\"x\"}", "\"provider\""},
        {"{\"prompt\":\"t\",\"provider\":\"google\",\"user_instructions\":\"x\"}", "\"model\""},
        {"{\"prompt\":\"t\",\"provider\":\"google\"," + model + "}", "\"user_instructions\""},
        {"{\"prompt\":42" + rest, "string value for key \"prompt\""},
        {"{\"prompt\":null" + rest, "string value for key \"prompt\""},
        {"{\"Prompt\":\"t\"" + rest, "\"prompt\""},
        {"{\"prompt\":\"t\",\"extra\":1" + rest, "Unexpected member \"extra\""},
        {"{\"prompt\":\"\"" + rest, "\"prompt\" is empty"},
        {chatBody("t", ""), "\"user_instructions\" is empty"},
        {"{\"prompt\":\"t\",\"provider\":\"openai\"," + model + ",\"user_instructions\":\"x\"}",
         "Unknown provider \"openai\""},
        {"{\"prompt\":\"t\",\"provider\":\"google\",\"model\":\"gpt-4\","
         "\"user_instructions\":\"x\"}",
         "Unknown model \"gpt-4\""},
    };
    for (const auto& [body, reason] : cases) {
        auto result = fixture.service.postChat(body, fixture.token);
        ASSERT_TRUE(result) << body;
        EXPECT_EQ(result->status, 400) << body;
        EXPECT_NE(result->body.find(reason), std::string::npos) << body << " -> " << result->body;
        EXPECT_EQ(result->body.find('\n'), std::string::npos) << result->body;
    }
    EXPECT_TRUE(upstream.received().empty());
}

TEST(ChatEndpoint, AcceptsAPromptOfOneMebibyteAndRejectsOneByteMore) {
    ScriptedUpstream upstream;
    upstream.answerWith("ok");
    ChatFixture fixture(upstream);

    auto atLimit = fixture.service.postChat(chatBody(std::string(1024 * 1024, 'a')), fixture.token);
    ASSERT_TRUE(atLimit);
    EXPECT_EQ(atLimit->status, 200);

    auto over =
        fixture.service.postChat(chatBody(std::string(1024 * 1024 + 1, 'a')), fixture.token);
    ASSERT_TRUE(over);
    EXPECT_EQ(over->status, 413);
    EXPECT_EQ(over->body, "The prompt is larger than 1 MiB.");

    // Escaping makes the body several times the prompt; it still earns the prompt's 413.
    auto escaped =
        fixture.service.postChat(chatBody(std::string(1024 * 1024 + 1, '\x01')), fixture.token);
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->status, 413);
    EXPECT_EQ(upstream.received().size(), 1u);
}

TEST(ChatEndpoint, TurnsUpstreamFailuresIntoOneLine502) {
    ScriptedUpstream upstream;
    ChatFixture fixture(upstream);

    upstream.setScript([](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content(R"({"error":{"message":"model \"llama3.2\" not found,\ntry pulling it"}})",
                        "application/json");
    });
    auto failed = fixture.service.postChat(chatBody("text"), fixture.token);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->status, 502);
    EXPECT_EQ(failed->body,
              "The model backend answered with status 500. model \"llama3.2\" not found, try "
              "pulling it");

    for (const char* reply :
         {"not json", R"({"choices":[]})", R"({"choices":[{"message":{"content":null}}]})"}) {
        upstream.setScript(
            [reply = std::string(reply)](const httplib::Request&, httplib::Response& res) {
                res.set_content(reply, "application/json");
            });
        auto unreadable = fixture.service.postChat(chatBody("text"), fixture.token);
        ASSERT_TRUE(unreadable);
        EXPECT_EQ(unreadable->status, 502) << reply;
        EXPECT_EQ(unreadable->body, "The model backend's answer holds no message content.");
    }
}

TEST(ChatEndpoint, AnUnreachableUpstreamIs502) {
    // A bound socket that never listens: connections are refused, and no other test can take
    // its port meanwhile.
    const int socketFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string deadUrl = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    ServiceConfig config = testConfig();
    config.passphrase = "pw";
    config.upstreamUrl = deadUrl;
    RunningService service(config);
    auto result = service.postChat(chatBody("text"), service.signIn("pw"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 502);
    EXPECT_EQ(result->body.rfind("The model backend could not be reached: ", 0), 0u)
        << result->body;
    close(socketFd);
}

TEST(ChatEndpoint, AnUpstreamSlowerThanTheTimeoutIs504) {
    ScriptedUpstream upstream;
    upstream.hang();
    ChatFixture fixture(upstream, 0.5);
    auto result = fixture.service.postChat(chatBody("text"), fixture.token);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 504);
    EXPECT_EQ(result->body, "The model backend did not answer within 0.5 seconds.");
}

TEST(ChatEndpoint, WithoutAnUpstreamAnswers503AfterCheckingTheToken) {
    ServiceConfig config = testConfig();
    config.passphrase = "pw";
    RunningService service(config);
    const std::string token = service.signIn("pw");

    auto result = service.postChat(chatBody("text"), token);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 503);
    EXPECT_EQ(result->body, "No model backend is configured on this service.");

    auto anonymous = service.postChat(chatBody("text"), "");
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 401);
}

}  // namespace
}  // namespace velmora::service::testing
