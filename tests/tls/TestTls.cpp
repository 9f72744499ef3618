#include "TestTls.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace velmora::testtls {

const Certificates& certificates() {
    static const struct Made {
        std::string dir;
        Certificates files;
        Made() {
            char pattern[] = "/tmp/velmora-tls-XXXXXX";
            EXPECT_NE(mkdtemp(pattern), nullptr);
            dir = pattern;
            const std::string command =
                std::string("bash '") + VELMORA_MAKE_DEV_CERT + "' '" + dir + "' >/dev/null";
            EXPECT_EQ(std::system(command.c_str()), 0) << command;
            files = {dir + "/ca.pem", dir + "/server.pem", dir + "/server.key"};
        }
        ~Made() { std::filesystem::remove_all(dir); }
    } made;
    return made.files;
}

ServingThread::ServingThread(httplib::Server& server)
    : server_(server),
      port_(server.bind_to_any_port("127.0.0.1")),
      thread_([this] { server_.listen_after_bind(); }) {
    EXPECT_GT(port_, 0);
    // stop() does nothing until the server is serving, so the destructor must not come first.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!server_.is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

ServingThread::~ServingThread() {
    server_.stop();
    thread_.join();
}

SilentPort::SilentPort(bool listening) : socket_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    EXPECT_TRUE(!listening || listen(socket_, 4) == 0);
    port_ = ntohs(address.sin_port);
}

SilentPort::~SilentPort() {
    close(socket_);
}

}  // namespace velmora::testtls
