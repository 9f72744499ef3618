// The request service and the libcurl session against a real TLS server on 127.0.0.1. The server
// chooses its answer from the prompt it receives, so each test states its case in the text it
// sends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "api/APIService.h"
#include "api/ProxyWireFormat.h"
#include "platform/linux/LinuxServices.h"
#include "settings/Catalog.h"
#include "support/TestMainQueue.h"
#include "support/TestPlatform.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A certificate authority and a server certificate for 127.0.0.1, made with the openssl program.
class TestCertificates {
  public:
    TestCertificates() {
        char pattern[] = "/tmp/velmora-http-XXXXXX";
        dir_ = mkdtemp(pattern);
        std::ofstream(dir_ / "server.ext") << "subjectAltName=IP:127.0.0.1\n"
                                              "basicConstraints=CA:FALSE\n";
        const std::string openssl = OPENSSL_PROGRAM;
        const std::string in = "cd '" + dir_.string() + "' && ";
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        const std::string script =
            in + openssl + " req -x509" + ec +
            " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Velmora Test CA' && " + openssl +
            " req" + ec + " -keyout server.key -out server.csr -subj '/CN=127.0.0.1' && " +
            openssl +
            " x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
            " -extfile server.ext -out server.pem";
        ok_ = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
    }
    ~TestCertificates() { fs::remove_all(dir_); }

    bool ok() const { return ok_; }
    std::string authority() const { return (dir_ / "ca.pem").string(); }
    std::string certificate() const { return (dir_ / "server.pem").string(); }
    std::string key() const { return (dir_ / "server.key").string(); }

  private:
    fs::path dir_;
    bool ok_ = false;
};

struct Received {
    std::string path;
    std::string body;
    std::string contentType;
    std::optional<std::string> authorization;
    int remotePort = 0;
};

class ProxyServer {
  public:
    explicit ProxyServer(const TestCertificates& certificates)
        : server_(certificates.certificate().c_str(), certificates.key().c_str()) {
        server_.Post("/api/chat", [this](const httplib::Request& request, httplib::Response& r) {
            record(request);
            answer(request, r);
        });
        server_.Get("/elsewhere", [this](const httplib::Request& request, httplib::Response&) {
            record(request);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!server_.is_running() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
    }

    ~ProxyServer() {
        release();
        server_.stop();
        thread_.join();
    }

    std::string url(const std::string& path = "/api/chat") const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<Received> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    bool waitForRequests(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return received_.size() >= count; });
    }
    // Lets blocked handlers finish.
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

  private:
    void record(const httplib::Request& request) {
        Received entry{request.path, request.body, request.get_header_value("Content-Type"),
                       std::nullopt, request.remote_port};
        if (request.has_header("Authorization")) {
            entry.authorization = request.get_header_value("Authorization");
        }
        {
            std::lock_guard lock(mutex_);
            received_.push_back(std::move(entry));
        }
        changed_.notify_all();
    }

    void answer(const httplib::Request& request, httplib::Response& r) {
        const auto payload = decodeRequest(request.body);
        const std::string prompt = payload ? payload->prompt : "";
        const auto json = "application/json";
        if (prompt == "401" || prompt == "403") {
            r.status = std::stoi(prompt);
            r.set_content(R"({"error":"token rejected"})", json);
        } else if (prompt == "500 oops") {
            r.status = 500;
            r.set_content("oops", "text/plain");
        } else if (prompt == "500") {
            r.status = 500;
        } else if (prompt == "302") {
            r.set_redirect(url("/elsewhere"));
        } else if (prompt == "empty") {
            r.set_content("", json);
        } else if (prompt == "not json") {
            r.set_content("<html>busy</html>", "text/html");
        } else if (prompt == "null") {
            r.set_content(R"({"response":null})", json);
        } else if (prompt == "number") {
            r.set_content(R"({"response":42})", json);
        } else if (prompt == "huge") {
            r.set_content(std::string(33u * 1024u * 1024u, 'x'), "text/plain");
        } else if (prompt == "block") {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, 30s, [this] { return released_; });
            r.set_content(R"({"response":"late"})", json);
        } else {
            r.set_content(*encodeResponse({"  " + prompt + " \n"}), json);
        }
    }

    httplib::SSLServer server_;
    int port_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> received_;
    bool released_ = false;
};

class ProxyOverHttps : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(certificates.ok()) << "openssl could not make the test certificates";
        setenv("VELMORA_CA_FILE", certificates.authority().c_str(), 1);
        session = desktop::makeHttpSession();
    }

    // One call through the service; checks that the result came once, later, on this thread.
    std::string rewrite(APIService& service, const std::string& text,
                        const std::optional<std::string>& token = std::string("tok"),
                        const std::optional<std::string>& instructions = std::string("Fix."),
                        std::shared_ptr<platform::HttpTask>* task = nullptr) {
        std::optional<std::string> result;
        int deliveries = 0;
        std::thread::id thread;
        auto handle = service.callLocalProxy(text, kDefaultModel, instructions, token,
                                             [&](const std::string& r) {
                                                 result = r;
                                                 ++deliveries;
                                                 thread = std::this_thread::get_id();
                                             });
        EXPECT_FALSE(result) << "delivered from inside the call";
        if (task) {
            *task = handle;
        }
        EXPECT_TRUE(queue.runUntil([&] { return result.has_value(); }, 60s));
        EXPECT_EQ(deliveries, 1);
        EXPECT_EQ(thread, std::this_thread::get_id()) << "not delivered on the main queue";
        return result.value_or("<no result>");
    }

    APIService serviceFor(const std::string& endpoint, platform::HttpSession& http) {
        return APIService(http, queue, endpoint, builtInProviders());
    }

    TestCertificates certificates;
    ProxyServer server{certificates};
    testing::TestMainQueue queue;
    testing::LogCapture log;
    std::unique_ptr<platform::HttpSession> session;
};

TEST_F(ProxyOverHttps, EveryResultOfTheTable) {
    APIService service = serviceFor(server.url(), *session);
    EXPECT_EQ(rewrite(service, "hello"), "hello");
    EXPECT_TRUE(log.contains("Successfully received AI response (5 chars)."));
    EXPECT_EQ(rewrite(service, "401"), "[Error: Authentication Failed (401)]");
    EXPECT_EQ(rewrite(service, "403"), "[Error: Authentication Failed (403)]");
    EXPECT_EQ(rewrite(service, "500 oops"), "[Error: HTTP 500] - Details: oops");
    EXPECT_EQ(rewrite(service, "500"), "[Error: HTTP 500]");
    EXPECT_EQ(rewrite(service, "302"), "[Error: HTTP 302]");
    EXPECT_EQ(rewrite(service, "empty"), "[Error: Decoding Simple Response Failed]");
    EXPECT_TRUE(log.contains("Raw Data on Decode Error: "));
    EXPECT_EQ(rewrite(service, "not json"), "[Error: Decoding Simple Response Failed]");
    EXPECT_TRUE(log.contains("Raw Data on Decode Error: <html>busy</html>"));
    EXPECT_EQ(rewrite(service, "null"), "[Error: Decoding Simple Response Failed]");
    EXPECT_EQ(rewrite(service, "number"), "[Error: Decoding Simple Response Failed]");
    // The redirect was reported, not followed.
    for (const auto& request : server.received()) {
        EXPECT_EQ(request.path, "/api/chat");
    }

    std::optional<std::string> noModel;
    EXPECT_EQ(service.callLocalProxy("x", "", std::nullopt, std::nullopt,
                                     [&](const std::string& r) { noModel = r; }),
              nullptr);
    std::optional<std::string> unknown;
    EXPECT_EQ(service.callLocalProxy("x", "mystery", std::nullopt, std::nullopt,
                                     [&](const std::string& r) { unknown = r; }),
              nullptr);
    EXPECT_FALSE(noModel || unknown);
    ASSERT_TRUE(queue.runUntil([&] { return noModel && unknown; }));
    EXPECT_EQ(noModel, "[Error: No Model Selected]");
    EXPECT_EQ(unknown, "[Error: Unknown provider for model mystery]");
    EXPECT_EQ(server.received().size(), 10u);
}

TEST_F(ProxyOverHttps, TheRequestOnTheWire) {
    APIService service = serviceFor(server.url(), *session);
    const std::string text = "Sag \"hallo\" \\ zu\nmir: café 東京 👩‍👩‍👧 مرحبا";
    EXPECT_EQ(rewrite(service, text, std::string("s3cret"), std::string("Be brief.")),
              "Sag \"hallo\" \\ zu\nmir: café 東京 👩‍👩‍👧 مرحبا");
    EXPECT_EQ(rewrite(service, "b", std::string("")), "b");
    EXPECT_EQ(rewrite(service, "c", std::nullopt, std::nullopt), "c");

    const auto received = server.received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].body, *encodeRequest({text, "google", kDefaultModel, "Be brief."}));
    EXPECT_EQ(received[0].contentType, "application/json");
    EXPECT_EQ(received[0].authorization, "Bearer s3cret");
    // The server may drop the trailing blank, but the header and its scheme arrive.
    ASSERT_TRUE(received[1].authorization);
    EXPECT_EQ(received[1].authorization->rfind("Bearer", 0), 0u);
    EXPECT_EQ(received[2].authorization, std::nullopt);
    EXPECT_EQ(decodeRequest(received[2].body)->user_instructions, kDefaultInstruction);
    EXPECT_TRUE(log.contains(
        "Using user_instructions: Act as a helpful AI assistant to process the following text."));
}

TEST_F(ProxyOverHttps, ConsecutiveRequestsShareOneConnection) {
    APIService service = serviceFor(server.url(), *session);
    EXPECT_EQ(rewrite(service, "one"), "one");
    EXPECT_EQ(rewrite(service, "two"), "two");
    const auto received = server.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].remotePort, received[1].remotePort) << "a second TLS connection";
}

TEST_F(ProxyOverHttps, TransportFailures) {
    // A port nobody listens on.
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    const std::string refusedUrl =
        "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/api/chat";
    APIService refused = serviceFor(refusedUrl, *session);
    const std::string result = rewrite(refused, "x");
    EXPECT_EQ(result.rfind("[Error: Network Failed (", 0), 0u) << result;
    EXPECT_NE(result.find("onnect"), std::string::npos) << result;
    EXPECT_TRUE(
        log.contains("Error: Network request failed: " + result.substr(24, result.size() - 26)));

    APIService service = serviceFor(server.url(), *session);
    const std::string huge = rewrite(service, "huge");
    EXPECT_EQ(huge, "[Error: Network Failed (The response body is larger than the 32 MiB limit)]");

    // Plain HTTP is refused by the session itself.
    std::optional<platform::HttpError> error;
    std::atomic<bool> done = false;
    session->startDataTask(
        platform::HttpRequest{"GET", "http://127.0.0.1:1/", {}, std::nullopt, 60},
        [&](auto, auto, std::optional<platform::HttpError> e) {
            error = e;
            done = true;
            queue.async([] {});  // wakes the waiting main queue
        });
    ASSERT_TRUE(queue.runUntil([&] { return done.load(); }, 30s));
    ASSERT_TRUE(error);
    EXPECT_NE(error->description.find("http"), std::string::npos) << error->description;
}

TEST_F(ProxyOverHttps, CertificatesAreVerified) {
    unsetenv("VELMORA_CA_FILE");
    auto untrusting = desktop::makeHttpSession();
    APIService service = serviceFor(server.url(), *untrusting);
    const std::string result = rewrite(service, "x");
    EXPECT_EQ(result.rfind("[Error: Network Failed (", 0), 0u) << result;
    EXPECT_NE(result.find("certificate"), std::string::npos) << result;
    EXPECT_TRUE(server.received().empty());
}

TEST_F(ProxyOverHttps, CancelReportsOnceAndLetsGoOfTheServer) {
    APIService service = serviceFor(server.url(), *session);
    std::optional<std::string> result;
    int deliveries = 0;
    auto task = service.callLocalProxy("block", kDefaultModel, std::nullopt, std::string("t"),
                                       [&](const std::string& r) {
                                           result = r;
                                           ++deliveries;
                                       });
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(server.waitForRequests(1));
    const auto cancelledAt = std::chrono::steady_clock::now();
    task->cancel();
    task->cancel();
    EXPECT_FALSE(result);
    ASSERT_TRUE(queue.runUntil([&] { return result.has_value(); }, 20s));
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 10s);
    EXPECT_EQ(result, "[Error: Request cancelled]");
    EXPECT_TRUE(log.contains("API request was cancelled"));
    server.release();
    queue.runUntil([] { return false; }, 300ms);
    EXPECT_EQ(deliveries, 1);
}

// libcurl words a stall by the phase it happened in.
bool mentionsTimeout(const std::string& result) {
    for (const char* word : {"timed out", "timeout", "too slow"}) {
        if (result.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST_F(ProxyOverHttps, SilenceEndsInATimeout) {
    auto impatient = desktop::makeHttpSession(1.0);
    APIService service = serviceFor(server.url(), *impatient);
    const std::string stalledResponse = rewrite(service, "block");
    EXPECT_EQ(stalledResponse.rfind("[Error: Network Failed (", 0), 0u) << stalledResponse;
    EXPECT_TRUE(mentionsTimeout(stalledResponse)) << stalledResponse;

    // A listener that never answers the TLS handshake: the connect phase counts too.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    APIService mute = serviceFor(
        "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/api/chat", *impatient);
    const std::string stalledHandshake = rewrite(mute, "x");
    close(listener);
    EXPECT_EQ(stalledHandshake.rfind("[Error: Network Failed (", 0), 0u) << stalledHandshake;
    EXPECT_TRUE(mentionsTimeout(stalledHandshake)) << stalledHandshake;
}

}  // namespace
}  // namespace velmora
