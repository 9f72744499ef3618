// The model backend of bench/service-load.sh's slow-backend mode: an OpenAI-compatible
// chat-completions endpoint on 127.0.0.1 that answers every request after DELAY seconds, any
// number at once (one event loop, a timer per request). Prints "listening PORT".
// Usage: slow-backend DELAY_SECONDS
#include <utility>  // before Asio, which uses std::exchange without it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdio>
#include <memory>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

class Exchange : public std::enable_shared_from_this<Exchange> {
  public:
    Exchange(tcp::socket socket, std::chrono::milliseconds delay)
        : socket_(std::move(socket)), timer_(socket_.get_executor()), delay_(delay) {}

    void read() {
        request_ = {};
        http::async_read(socket_, buffer_, request_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec) {
                                 return;
                             }
                             self->timer_.expires_after(self->delay_);
                             self->timer_.async_wait([self](beast::error_code) { self->answer(); });
                         });
    }

  private:
    void answer() {
        response_ = {http::status::ok, request_.version()};
        response_.set(http::field::content_type, "application/json");
        response_.body() =
            R"({"choices":[{"index":0,"message":{"role":"assistant","content":"Rewritten."}}]})";
        response_.keep_alive(request_.keep_alive());
        response_.prepare_payload();
        http::async_write(socket_, response_,
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (!ec && self->response_.keep_alive()) {
                                  self->read();
                              }
                          });
    }

    tcp::socket socket_;
    asio::steady_timer timer_;
    std::chrono::milliseconds delay_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> request_;
    http::response<http::string_body> response_;
};

void accept(tcp::acceptor& acceptor, std::chrono::milliseconds delay) {
    acceptor.async_accept([&acceptor, delay](beast::error_code ec, tcp::socket socket) {
        if (!ec) {
            std::make_shared<Exchange>(std::move(socket), delay)->read();
        }
        accept(acceptor, delay);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DELAY_SECONDS\n", argv[0]);
        return 2;
    }
    const auto delay = std::chrono::milliseconds(static_cast<long>(std::stod(argv[1]) * 1000));
    asio::io_context io;
    tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    acceptor.listen(asio::socket_base::max_listen_connections);
    std::printf("listening %d\n", acceptor.local_endpoint().port());
    std::fflush(stdout);
    accept(acceptor, delay);
    io.run();
}
