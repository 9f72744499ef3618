#include <utility>  // before Asio, which uses std::exchange without it

#include "UpstreamRelay.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>

namespace velmora::service {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// One request to the backend, on `Stream` (plain TCP or TLS over it).
template <class Stream>
class Exchange : public std::enable_shared_from_this<Exchange<Stream>> {
  public:
    template <class... StreamArgs>
    Exchange(const UpstreamTarget& target, double timeout, std::function<void(UpstreamResult)> done,
             const asio::any_io_executor& executor, StreamArgs&&... streamArgs)
        : target_(target),
          stream_(executor, std::forward<StreamArgs>(streamArgs)...),
          resolver_(executor),
          deadline_(std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(timeout))),
          done_(std::move(done)) {
        parser_.body_limit(kMaxUpstreamReplyBytes);
        parser_.header_limit(64 * 1024);
    }

    http::request<http::string_body> request;

    void start() {
        resolver_.async_resolve(target_.host, target_.port,
                                [self = this->shared_from_this()](
                                    beast::error_code ec, tcp::resolver::results_type found) {
                                    if (ec) {
                                        return self->finish(ec);
                                    }
                                    self->lowest().expires_at(self->deadline_);
                                    self->lowest().async_connect(
                                        found, [self](beast::error_code ec, auto) {
                                            ec ? self->finish(ec) : self->connected();
                                        });
                                });
    }

  private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream_); }

    void connected() {
        if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
            send();
        } else {
            SSL_set_tlsext_host_name(stream_.native_handle(), target_.host.c_str());
            stream_.set_verify_callback(asio::ssl::host_name_verification(target_.host));
            lowest().expires_at(deadline_);
            stream_.async_handshake(asio::ssl::stream_base::client,
                                    [self = this->shared_from_this()](beast::error_code ec) {
                                        ec ? self->finish(ec) : self->send();
                                    });
        }
    }

    void send() {
        lowest().expires_at(deadline_);
        http::async_write(
            stream_, request, [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                if (ec) {
                    return self->finish(ec);
                }
                // The request body can go now; only the answer is held.
                self->request = {};
                self->lowest().expires_at(self->deadline_);
                http::async_read(self->stream_, self->buffer_, self->parser_,
                                 [self](beast::error_code ec, std::size_t) { self->finish(ec); });
            });
    }

    void finish(beast::error_code ec) {
        beast::error_code ignored;
        lowest().socket().close(ignored);
        UpstreamResult result;
        if (ec == beast::error::timeout || std::chrono::steady_clock::now() >= deadline_) {
            result = {UpstreamResult::Status::TimedOut,
                      "The model backend did not answer in time."};
        } else if (ec == http::error::body_limit || ec == http::error::buffer_overflow) {
            result = {UpstreamResult::Status::Failed,
                      "The model backend's answer is larger than 8 MiB."};
        } else if (ec) {
            result = {UpstreamResult::Status::Failed,
                      "The model backend could not be reached: " + ec.message()};
        } else {
            auto& answer = parser_.get();
            result = parseCompletionReply(answer.result_int(), answer.body());
        }
        auto done = std::move(done_);
        done(std::move(result));
    }

    const UpstreamTarget& target_;
    Stream stream_;
    tcp::resolver resolver_;
    std::chrono::steady_clock::time_point deadline_;
    std::function<void(UpstreamResult)> done_;
    beast::flat_buffer buffer_;
    http::response_parser<http::string_body> parser_;
};

}  // namespace

std::unique_ptr<UpstreamRelay> UpstreamRelay::create(const UpstreamSettings& settings,
                                                     std::string* error) {
    auto target = parseUpstreamUrl(settings.baseUrl);
    if (!target) {
        *error = "upstream-url " + settings.baseUrl + " names no host";
        return nullptr;
    }
    std::unique_ptr<UpstreamRelay> relay(new UpstreamRelay(settings, *target));
    if (target->tls) {
        relay->tls_ = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
        relay->tls_->set_default_verify_paths();
        relay->tls_->set_verify_mode(asio::ssl::verify_peer);
        beast::error_code ec;
        if (!settings.caFile.empty()) {
            relay->tls_->load_verify_file(settings.caFile, ec);
        }
        if (ec) {
            *error = "cannot read the upstream CA file " + settings.caFile;
            return nullptr;
        }
    }
    return relay;
}

void UpstreamRelay::complete(const asio::any_io_executor& executor, const std::string& model,
                             const std::string& instruction, const std::string& prompt,
                             std::function<void(UpstreamResult)> done) {
    auto fill = [&](http::request<http::string_body>& request) {
        request.method(http::verb::post);
        request.target(target_.path);
        request.version(11);
        request.set(http::field::host, target_.hostHeader);
        request.set(http::field::content_type, "application/json");
        request.set(http::field::accept, "application/json");
        if (!settings_.apiKey.empty()) {
            request.set(http::field::authorization, "Bearer " + settings_.apiKey);
        }
        request.keep_alive(false);
        request.body() = completionRequestBody(model, instruction, prompt);
        request.prepare_payload();
    };
    if (tls_) {
        auto exchange = std::make_shared<Exchange<beast::ssl_stream<beast::tcp_stream>>>(
            target_, settings_.timeoutSeconds, std::move(done), executor, *tls_);
        fill(exchange->request);
        exchange->start();
    } else {
        auto exchange = std::make_shared<Exchange<beast::tcp_stream>>(
            target_, settings_.timeoutSeconds, std::move(done), executor);
        fill(exchange->request);
        exchange->start();
    }
}

}  // namespace velmora::service
