// The libcurl session against a real TLS server on 127.0.0.1.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <future>
#include <optional>
#include <regex>

#include "TestTls.h"
#include "platform/linux/CurlHttpSession.h"

namespace velmora::desktop {
namespace {

using platform::HttpRequest;

HttpRequest request(std::string method, std::string url,
                    std::optional<std::string> body = std::nullopt) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.body = std::move(body);
    return request;
}

struct Outcome {
    platform::HttpResult result = platform::HttpError{false, "<no outcome>"};
    std::thread::id thread;

    const platform::HttpReply* reply() const { return std::get_if<platform::HttpReply>(&result); }
    const platform::HttpError* error() const { return std::get_if<platform::HttpError>(&result); }
    std::optional<std::string> body() const {
        return reply() ? std::optional(reply()->body) : std::nullopt;
    }
};

int status(const Outcome& outcome) {
    return outcome.reply() ? outcome.reply()->statusCode : 0;
}

std::string failure(const Outcome& outcome) {
    const auto* error = outcome.error();
    return error && !error->cancelled ? error->description : "<none>";
}

class CurlHttpSessionTest : public ::testing::Test {
  protected:
    CurlHttpSessionTest() {
        server.Post("/echo", [this](const httplib::Request& request, httplib::Response& reply) {
            seen.add(request);
            reply.status = 201;
            reply.set_content("got " + request.body, "text/plain");
        });
        server.Get("/moved", [this](const httplib::Request& request, httplib::Response& reply) {
            seen.add(request);
            reply.set_redirect("/echo");
        });
        server.Get(R"(/hop/(\d+))", [](const httplib::Request& request, httplib::Response& reply) {
            const int left = std::stoi(request.matches[1]);
            if (left == 0) {
                reply.set_content("arrived", "text/plain");
            } else {
                reply.set_redirect("/hop/" + std::to_string(left - 1));
            }
        });
        server.Get("/plain", [](const httplib::Request&, httplib::Response& reply) {
            reply.set_redirect("http://127.0.0.1:1/hop/0");
        });
        // One byte every 0.2 s, for a minute.
        server.Get("/trickle", [](const httplib::Request&, httplib::Response& reply) {
            reply.set_chunked_content_provider("text/plain", [](size_t offset, auto& sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                return offset < 300 && sink.write("x", 1);
            });
        });
        server.Get("/sized", [](const httplib::Request& request, httplib::Response& reply) {
            reply.set_content(std::string(std::stoul(request.get_param_value("bytes")), 'x'),
                              "text/plain");
        });
        // Answers only when the test ends.
        server.Get("/block", [this](const httplib::Request& request, httplib::Response&) {
            seen.add(request);
            testEnded.wait();
        });
        serving.emplace(server);
        setenv("VELMORA_CA_FILE", testtls::certificates().authority.c_str(), 1);
        session = makeHttpSession();
    }
    ~CurlHttpSessionTest() override { endTest.set_value(); }

    std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(serving->port()) + path;
    }
    std::unique_ptr<platform::HttpTask> start(platform::HttpSession& on, HttpRequest request) {
        return on.startDataTask(std::move(request), [this](platform::HttpResult result) {
            outcomes.add({std::move(result), std::this_thread::get_id()});
        });
    }
    Outcome fetch(platform::HttpSession& on, HttpRequest request) {
        const std::size_t before = outcomes.waitFor(0).size();
        start(on, std::move(request));
        const auto all = outcomes.waitFor(before + 1);
        return all.size() > before ? all[before] : Outcome{};
    }

    httplib::SSLServer server{testtls::certificates().certificate.c_str(),
                              testtls::certificates().key.c_str()};
    std::promise<void> endTest;
    std::shared_future<void> testEnded = endTest.get_future().share();
    testtls::Recorder<httplib::Request> seen;
    testtls::Recorder<Outcome> outcomes;
    std::optional<testtls::ServingThread> serving;
    std::unique_ptr<platform::HttpSession> session;
};

TEST_F(CurlHttpSessionTest, CarriesRequestsAndAnswersIntactOverOneConnection) {
    const std::string body("{\"text\":\"café 東京\"}\0end", 25);
    HttpRequest post = request("POST", url("/echo"), body);
    post.headers = {{"Authorization", "Bearer s3cret"}, {"Content-Type", "application/json"}};
    const Outcome echoed = fetch(*session, post);
    EXPECT_EQ(status(echoed), 201) << failure(echoed);
    EXPECT_EQ(echoed.body(), "got " + body);
    EXPECT_NE(echoed.thread, std::this_thread::get_id());
    EXPECT_EQ(fetch(*session, request("POST", url("/echo"))).body(), "got ");
    EXPECT_EQ(status(fetch(*session, request("GET", url("/moved")))), 302);

    const auto requests = seen.waitFor(3);
    ASSERT_EQ(requests.size(), 3u) << "the redirect was followed";
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].get_header_value("Authorization"), "Bearer s3cret");
    EXPECT_EQ(requests[0].get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[2].path, "/moved");
    EXPECT_EQ(requests[0].remote_port, requests[2].remote_port) << "a second TLS connection";
}

TEST_F(CurlHttpSessionTest, FollowsOnlyTheRedirectsARequestAllowsAndOnlyToHttps) {
    HttpRequest hops = request("GET", url("/hop/5"));
    hops.maxRedirects = 5;
    EXPECT_EQ(fetch(*session, hops).body(), "arrived");
    hops.url = url("/hop/6");
    EXPECT_NE(failure(fetch(*session, hops)), "<none>");
    hops.url = url("/plain");
    EXPECT_NE(failure(fetch(*session, hops)), "<none>");
}

TEST_F(CurlHttpSessionTest, AReplyThatNeverStallsStillEnds) {
    const Outcome trickled = fetch(*makeHttpSession(60.0, 1.0), request("GET", url("/trickle")));
    EXPECT_NE(failure(trickled).find("timed out"), std::string::npos) << failure(trickled);
}

TEST_F(CurlHttpSessionTest, FailuresCarryCurlsDescription) {
    unsetenv("VELMORA_CA_FILE");
    const Outcome untrusted = fetch(*makeHttpSession(), request("POST", url("/echo"), "x"));
    EXPECT_NE(failure(untrusted).find("certificate"), std::string::npos) << failure(untrusted);

    const testtls::SilentPort closed(false);
    const std::string refused = "https://127.0.0.1:" + std::to_string(closed.port()) + "/";
    for (const std::string& to : {refused, std::string("http://127.0.0.1:1/")}) {
        const Outcome failed = fetch(*session, request("GET", to));
        EXPECT_NE(failure(failed), "<none>") << to;
        EXPECT_FALSE(failed.reply());
    }
    EXPECT_TRUE(seen.waitFor(0).empty());
}

TEST_F(CurlHttpSessionTest, AnswersAreCappedAt32MiB) {
    const std::size_t limit = 32u * 1024u * 1024u;
    const auto sized = [&](std::size_t bytes) {
        return fetch(*session, request("GET", url("/sized?bytes=" + std::to_string(bytes))));
    };
    EXPECT_EQ(sized(limit).body().value_or("").size(), limit);
    const Outcome over = sized(limit + 1);
    EXPECT_NE(failure(over).find("32 MiB"), std::string::npos) << failure(over);
    EXPECT_FALSE(over.reply());
}

TEST_F(CurlHttpSessionTest, ACancelledRequestCompletesOnceAsCancelled) {
    const auto blocked = start(*session, request("GET", url("/block")));
    ASSERT_EQ(seen.waitFor(1).size(), 1u);
    blocked->cancel();
    blocked->cancel();
    // Cancelled at once, most likely before the session's thread has taken it up.
    start(*session, request("GET", url("/block")))->cancel();
    const auto cancelled = outcomes.waitFor(2);
    ASSERT_EQ(cancelled.size(), 2u);
    for (const Outcome& outcome : cancelled) {
        EXPECT_TRUE(outcome.error() && outcome.error()->cancelled);
        EXPECT_NE(outcome.thread, std::this_thread::get_id());
    }
    // A late cancel changes nothing, and nothing else arrives before the next request's answer.
    blocked->cancel();
    EXPECT_EQ(status(fetch(*session, request("GET", url("/moved")))), 302);
    EXPECT_EQ(outcomes.waitFor(3).size(), 3u);
}

TEST_F(CurlHttpSessionTest, SilenceEndsInATimeout) {
    // libcurl words a stall by the phase it happened in.
    const std::regex timedOut("time|slow");
    const std::string noAnswer =
        failure(fetch(*makeHttpSession(1.0), request("GET", url("/block"))));
    EXPECT_TRUE(std::regex_search(noAnswer, timedOut)) << noAnswer;
    // A listener that never answers the TLS handshake, with the request's own shorter limit.
    const testtls::SilentPort silent(true);
    HttpRequest shortLimit = request("GET", "https://127.0.0.1:" + std::to_string(silent.port()));
    shortLimit.timeoutSeconds = 1.0;
    const std::string noHandshake = failure(fetch(*session, shortLimit));
    EXPECT_TRUE(std::regex_search(noHandshake, timedOut)) << noHandshake;
}

}  // namespace
}  // namespace velmora::desktop
