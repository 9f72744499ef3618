#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ServiceTestSupport.h"

namespace velmora::service::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A raw client of 127.0.0.1:`port`: a PROXY protocol v2 header naming `client` when given, then
// TLS, then whatever bytes the test writes.
class RawClient {
  public:
    RawClient(int port, const std::string& client = {}) {
        static SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{
            AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        const timeval second{1, 0};
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
        ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (!client.empty()) {
            unsigned char header[28] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51,
                                        0x55, 0x49, 0x54, 0x0A, 0x21, 0x11, 0x00, 12};
            inet_pton(AF_INET, client.c_str(), header + 16);
            inet_pton(AF_INET, "127.0.0.1", header + 20);
            ::write(socket_, header, sizeof header);
        }
        ssl_ = SSL_new(context);
        SSL_set_fd(ssl_, socket_);
        secure_ = SSL_connect(ssl_) == 1;
    }
    ~RawClient() { SSL_free(ssl_), ::close(socket_); }
    bool secure() const { return secure_; }
    void write(const std::string& bytes) {
        SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
    }
    // Reads for up to a second: false once the service has closed the connection.
    bool open() {
        char buffer[4096];
        ERR_clear_error(), errno = 0;  // another read's error would count for this one
        const int got = SSL_read(ssl_, buffer, sizeof buffer);
        return got > 0 || SSL_get_error(ssl_, got) == SSL_ERROR_WANT_READ || errno == EAGAIN;
    }

  private:
    int socket_;
    SSL* ssl_;
    bool secure_;
};

TEST(Connections, AnotherProcessOnThePortStopsTheStart) {
    RunningService first(testConfig());
    ServiceConfig config = testConfig();
    config.port = first.port();
    std::string error;
    auto second = VelmoraService::create(config, &error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(second->bind(&error), -1);
    EXPECT_NE(error.find("another process already listens there"), std::string::npos) << error;
    EXPECT_EQ(first.client()->Get("/latest/version.json")->status, 200);
}

// Connections trickling their heads hold a socket each, no thread: an ordinary request goes
// straight through, and each trickler is cut off when its deadline passes, as is a silent
// kept-alive connection.
TEST(Connections, SlowClientsCostOnlyTheirOwnSocket) {
    ServiceConfig config = testConfig();
    config.threads = 1;
    RunningService service(config);
    const int port = service.port();
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<RawClient>(port));
        slow.back()->write("GET /latest/version.json HTTP/1.1\r\nHost: x\r\n");
    }
    RawClient idle(port);
    idle.write("GET /latest/version.json HTTP/1.1\r\nHost: x\r\n\r\n");
    const auto start = Clock::now();
    EXPECT_EQ(service.client()->Get("/latest/version.json")->status, 200);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));

    bool idleOpen = true;
    bool slowOpen = true;
    while (slowOpen && Clock::now() - start < std::chrono::seconds(14)) {
        slow[0]->write("X");
        slowOpen = slow[0]->open();
        if (idleOpen && !(idleOpen = idle.open())) {
            EXPECT_GT(Clock::now() - start, std::chrono::seconds(4)) << "kept alive too briefly";
        }
    }
    EXPECT_FALSE(idleOpen);
    EXPECT_FALSE(slowOpen);
    EXPECT_GT(Clock::now() - start, std::chrono::seconds(9));
}

// A trusted proxy names the client (PROXY protocol v2, X-Forwarded-For); anyone else's headers
// count for nothing. Connections are capped per client address.
TEST(Connections, OnlyATrustedProxyNamesTheClient) {
    ServiceConfig config = testConfig();
    config.trustedProxies = {"127.0.0.1"};
    config.maxConnectionsPerAddress = 2;
    config.authDelay = 60;
    RunningService proxied(config);
    const int port = proxied.port();
    RawClient first(port, "203.0.113.9");
    RawClient second(port, "203.0.113.9");
    RawClient third(port, "203.0.113.9");
    RawClient other(port, "198.51.100.7");
    EXPECT_TRUE(first.secure() && second.secure() && other.secure());
    EXPECT_FALSE(third.secure());

    const auto as = [](const char* address) {
        return httplib::Headers{{"X-Forwarded-For", address}};
    };
    EXPECT_EQ(
        proxied.postSignIn("wrong", proxied.signInForm(), as("10.1.1.1, 203.0.113.9"))->status,
        401);
    EXPECT_EQ(proxied.postSignIn("pw", proxied.signInForm(), as("198.51.100.7"))->status, 303);
    EXPECT_EQ(proxied.postSignIn("pw", proxied.signInForm(), as("203.0.113.9"))->status, 429);

    config.trustedProxies.clear();
    RunningService direct(config);
    EXPECT_EQ(direct.postSignIn("wrong", direct.signInForm(), as("203.0.113.9"))->status, 401);
    EXPECT_EQ(direct.postSignIn("pw", direct.signInForm(), as("198.51.100.7"))->status, 429);
}

}  // namespace
}  // namespace velmora::service::testing
