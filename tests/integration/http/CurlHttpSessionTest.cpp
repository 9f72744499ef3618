// The libcurl session, alone and in its helper process, against a real TLS server on 127.0.0.1.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <regex>

#include "TestTls.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/HelperHttpSession.h"
#include "platform/linux/HttpsWire.h"

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
        server.Options("/echo", [this](const httplib::Request& request, httplib::Response&) {
            seen.add(request);
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

using namespace std::chrono_literals;
using Limits = HelperHttpSession::Limits;
constexpr Limits kQuickLimits{60s, 2s, 30s};

double secondsSince(std::chrono::steady_clock::time_point then) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - then).count();
}

// Stops the helper, as a debugger or a machine deep in swap would. Never signals anything else:
// a pid of 0 or -1 would stop the test's whole process group or every process.
pid_t stopHelper(const HelperHttpSession& session) {
    const pid_t pid = session.helperProcess().value_or(0);
    if (pid > 0) {
        ::kill(pid, SIGSTOP);
    }
    return pid;
}

bool mentions(const Outcome& outcome, const std::string& words) {
    return failure(outcome).find(words) != std::string::npos;
}

TEST_F(CurlHttpSessionTest, TheHelperPassesAnswersUpToTheServicesLimitAndNoMore) {
    HelperHttpSession helper(VELMORA_HTTPS_HELPER, kQuickLimits);
    const auto sized = [&](std::size_t bytes) {
        return fetch(helper, request("GET", url("/sized?bytes=" + std::to_string(bytes))));
    };
    EXPECT_EQ(sized(8u << 20).body().value_or("").size(), 8u << 20);
    const Outcome over = sized(9u << 20);
    EXPECT_TRUE(mentions(over, "8 MiB")) << failure(over);
}

TEST_F(CurlHttpSessionTest, APreparedConnectionCarriesTheFirstRequest) {
    HelperHttpSession helper(VELMORA_HTTPS_HELPER, kQuickLimits);
    helper.prepare(url("/echo"));
    EXPECT_EQ(status(fetch(helper, request("POST", url("/echo"), "x"))), 201);
    const auto requests = seen.waitFor(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "OPTIONS");
    EXPECT_EQ(requests[0].remote_port, requests[1].remote_port);
}

TEST_F(CurlHttpSessionTest, AStoppedHelperFailsWhatItHoldsInTimeAndHoldsNothingUp) {
    auto helper = std::make_unique<HelperHttpSession>(VELMORA_HTTPS_HELPER, kQuickLimits);
    start(*helper, request("GET", url("/block")));
    ASSERT_EQ(seen.waitFor(1).size(), 1u);
    const pid_t first = stopHelper(*helper);
    ASSERT_GT(first, 0);
    const auto stopped = std::chrono::steady_clock::now();
    EXPECT_TRUE(mentions(outcomes.waitFor(1)[0], "stopped answering"));
    EXPECT_LT(secondsSince(stopped), 6.0);

    // Stopped while idle: a large request and its cancel, another request and Quit all go
    // through at once.
    EXPECT_EQ(status(fetch(*helper, request("GET", url("/moved")))), 302);
    ASSERT_GT(stopHelper(*helper), 0);
    const auto idle = std::chrono::steady_clock::now();
    start(*helper, request("POST", url("/echo"), std::string(4u << 20, 'x')))->cancel();
    EXPECT_TRUE(outcomes.waitFor(3)[2].error()->cancelled);
    start(*helper, request("GET", url("/moved")));
    helper.reset();
    EXPECT_LT(secondsSince(idle), 1.5) << "less than the helper's silence";
    EXPECT_TRUE(outcomes.waitFor(4)[3].error()->cancelled);
    EXPECT_EQ(::kill(first, 0), -1) << "the first helper is killed and reaped";
}

TEST_F(CurlHttpSessionTest, ARequestPastVelmorasOwnDeadlineEndsTheHelper) {
    HelperHttpSession helper(VELMORA_HTTPS_HELPER, {60s, 30s, 2s});
    const Outcome blocked = fetch(helper, request("GET", url("/block")));
    EXPECT_TRUE(mentions(blocked, "within 2 seconds")) << failure(blocked);
}

TEST_F(CurlHttpSessionTest, AnAnswerToNoRequestEndsTheHelper) {
    const auto dir = std::filesystem::path(testtls::certificates().authority).parent_path();
    std::ofstream(dir / "stray") << wire::encode(wire::Done{99, platform::HttpReply{200, "x"}});
    std::ofstream(dir / "fake-helper")
        << "#!/bin/sh\ncat '" << (dir / "stray").string() << "'\nexec cat >/dev/null\n";
    std::filesystem::permissions(dir / "fake-helper", std::filesystem::perms::owner_all);
    HelperHttpSession fake((dir / "fake-helper").string(), kQuickLimits);
    const Outcome answered = fetch(fake, request("GET", url("/moved")));
    EXPECT_TRUE(mentions(answered, "not an answer")) << failure(answered);
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
