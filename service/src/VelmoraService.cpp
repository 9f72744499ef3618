#include "VelmoraService.h"

#include <strings.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

// After the standard headers: Asio uses std::exchange without including <utility> itself.
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <nlohmann/json.hpp>

#include "ChatEndpoint.h"
#include "SecureTokens.h"
#include "SignInPage.h"
#include "SignInThrottle.h"
#include "TokenStore.h"
#include "UpstreamRelay.h"

namespace velmora::service {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Response = http::response<http::string_body>;
using Request = http::request<http::string_body>;

namespace {

// Deadlines per connection, not per read: the TLS handshake and then a whole request head
// within kHeadTime, a body at kMinBodyRate after a grace of kHeadTime, the answer out at the same
// rate; a kept-alive connection may stay silent for kIdleTime before its next request.
constexpr auto kHeadTime = 10s;
constexpr auto kIdleTime = 5s;
constexpr double kMinBodyRate = 16 * 1024;  // bytes per second
// A request's line and headers; the PROXY protocol header of a trusted proxy.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxProxyHeaderBytes = 536;
constexpr int kMaxRequestsPerConnection = 1000;
// Request bodies held at once, all connections together; a request whose body would go beyond
// is answered 503 unread. (The thread pool bounded this before; connections no longer do.)
constexpr std::size_t kMaxBodyBytesInFlight = 128 * 1024 * 1024;

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";
// The sign-in form's cookie; the __Host- prefix holds browsers to HTTPS, this host and Path=/.
constexpr std::string_view kFormCookie = "__Host-velmora-sign-in";
constexpr const char* kEncodedBody = "Request bodies are taken without a Content-Encoding.";
constexpr const char* kStoreDown =
    "The service cannot reach its token database right now. Please try again shortly.";

Clock::duration atRate(std::size_t bytes) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / kMinBodyRate));
}

Response makeReply(const HttpReply& answer) {
    Response res{static_cast<http::status>(answer.status), 11};
    res.set(http::field::content_type, answer.contentType);
    res.body() = answer.body;
    return res;
}

// Sign-in pages are never cached, framed, referred onwards or taken for anything but HTML.
void markSignInPage(Response& res) {
    static const std::string policy = signInPagePolicy();
    res.set(http::field::cache_control, "no-store");
    res.set("Referrer-Policy", "no-referrer");
    res.set("X-Frame-Options", "DENY");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Content-Security-Policy", policy);
}

// The sign-in form with a fresh form token, which also goes into a cookie that other sites can
// neither read nor have the browser send with their own requests.
Response signInForm(int status, const std::string& error = {}) {
    const auto formToken = makeSessionToken();
    Response res = formToken ? makeReply({status, signInPageHtml(*formToken, error), kHtml})
                             : makeReply({500,
                                          "The service could not make a sign-in form. "
                                          "Please try again."});
    if (formToken) {
        res.set(http::field::set_cookie, std::string(kFormCookie) + "=" + *formToken +
                                             "; Path=/; Secure; HttpOnly; SameSite=Strict");
    }
    markSignInPage(res);
    return res;
}

Response signInUnavailable() {
    Response res = makeReply({503, signInUnavailableHtml(), kHtml});
    markSignInPage(res);
    return res;
}

// The value of the cookie `name`, or empty.
std::string cookie(const Request& req, std::string_view name) {
    for (auto [it, end] = req.equal_range(http::field::cookie); it != end; ++it) {
        std::string_view rest(it->value().data(), it->value().size());
        while (!rest.empty()) {
            const size_t semicolon = rest.find(';');
            std::string_view pair = rest.substr(0, semicolon);
            rest = semicolon == std::string_view::npos ? "" : rest.substr(semicolon + 1);
            pair.remove_prefix(std::min(pair.find_first_not_of(' '), pair.size()));
            if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=') {
                return std::string(pair.substr(name.size() + 1));
            }
        }
    }
    return {};
}

std::string header(const Request& req, std::string_view name) {
    const auto it = req.find(beast::string_view(name.data(), name.size()));
    return it == req.end() ? std::string() : std::string(it->value());
}

// True when the form came from a sign-in page this service gave this browser: its hidden token
// matches the cookie sent with that page. Origin and Sec-Fetch-Site, when the browser sends
// them, must name this service too. (Our pages send no referrer, so their Origin is "null".)
bool fromOwnSignInPage(const Request& req, const std::map<std::string, std::string>& fields) {
    const std::string origin = header(req, "Origin");
    if (!origin.empty() && origin != "null" &&
        strcasecmp(origin.c_str(), ("https://" + header(req, "Host")).c_str()) != 0) {
        return false;
    }
    const std::string site = header(req, "Sec-Fetch-Site");
    if (!site.empty() && site != "same-origin" && site != "none") {
        return false;
    }
    const auto given = fields.find(kFormTokenField);
    const std::string expected = cookie(req, kFormCookie);
    return given != fields.end() && !expected.empty() &&
           constantTimeEquals(given->second, expected);
}

std::string waitText(long seconds) {
    return seconds < 120 ? std::to_string(seconds) + (seconds == 1 ? " second" : " seconds")
                         : std::to_string((seconds + 59) / 60) + " minutes";
}

// A request whose body cannot be taken as sent: a POST of no stated length, a body on another
// method, and a length that is ambiguous.
std::optional<HttpReply> unreadableBody(const Request& req) {
    const auto lengths = std::distance(req.equal_range(http::field::content_length).first,
                                       req.equal_range(http::field::content_length).second);
    const auto encodings = std::distance(req.equal_range(http::field::transfer_encoding).first,
                                         req.equal_range(http::field::transfer_encoding).second);
    const bool post = req.method() == http::verb::post;
    if (post && lengths + encodings == 0) {
        return HttpReply{411, "A request body needs a Content-Length."};
    }
    const std::string encoding = header(req, "Transfer-Encoding");
    const std::string length = header(req, "Content-Length");
    if (lengths + encodings > 1 ||
        (encodings == 1 && strcasecmp(encoding.c_str(), "chunked") != 0) ||
        (!post && (encodings == 1 || (!length.empty() && length != "0")))) {
        return HttpReply{400, "The request body cannot be taken."};
    }
    return std::nullopt;
}

bool encodedBody(const Request& req) {
    for (auto [it, end] = req.equal_range(http::field::content_encoding); it != end; ++it) {
        if (!beast::iequals(it->value(), "identity")) {
            return true;
        }
    }
    return false;
}

std::string addressText(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

class Connection;

}  // namespace

struct VelmoraService::State {
    State(ServiceConfig configIn, std::unique_ptr<TokenStore> storeIn)
        : config(std::move(configIn)),
          store(std::move(storeIn)),
          chat(config),
          throttle({config.authDelay, config.authLockoutFailures, config.authLockout},
                   store->throttleTable()),
          tls(ssl::context::tls_server),
          io(serviceThreads(config)),
          work(asio::make_work_guard(io)),
          acceptor(asio::make_strand(io)),
          database(config.database.empty() ? 2 : 4) {
        for (const auto& entry : config.trustedProxies) {
            trusted.push_back(*parseNetwork(entry));
        }
    }

    bool trustedPeer(const std::string& address) const {
        for (const auto& network : trusted) {
            if (networkContains(network, address)) {
                return true;
            }
        }
        return false;
    }

    // One connection more from `address`, unless it has its share already.
    bool admit(const std::string& address) {
        std::lock_guard lock(mutex);
        int& count = perAddress[address];
        if (count >= config.maxConnectionsPerAddress) {
            return false;
        }
        ++count;
        return true;
    }
    void release(const std::string& address) {
        std::lock_guard lock(mutex);
        if (auto it = perAddress.find(address); it != perAddress.end() && --it->second <= 0) {
            perAddress.erase(it);
        }
    }

    // One clear line when the store goes away and one when it is back, not one per request.
    void storeFailed(const char* why) {
        if (!storeDown.exchange(true)) {
            logServiceLine(std::string("Token database unavailable: ") + why +
                           "; /api/chat, sign-in and /healthz answer 503 until it is back");
        }
    }
    void storeWorked() {
        if (storeDown.exchange(false)) {
            logServiceLine("Token database reachable again");
        }
    }

    void accept();
    void beginStop();

    ServiceConfig config;
    std::unique_ptr<TokenStore> store;
    std::unique_ptr<UpstreamRelay> relay;
    ChatEndpoint chat;
    SignInThrottle throttle;
    std::vector<IpNetwork> trusted;

    // Declared before the loop, so connections that the loop's end destroys still find them.
    std::mutex mutex;
    std::unordered_map<std::string, int> perAddress;
    std::unordered_map<Connection*, std::weak_ptr<Connection>> connections;
    std::atomic<int> open{0};
    std::atomic<std::size_t> bodyBytes{0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> serving{false};
    std::atomic<bool> storeDown{false};

    ssl::context tls;
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work;
    tcp::acceptor acceptor;  // on a strand of its own
    asio::thread_pool database;
};

namespace {

using State = VelmoraService::State;

// One client connection, from the PROXY header (of a trusted proxy) through TLS to its last
// answer. Everything it does runs on its own strand; it holds a thread only while it works.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(State& state, tcp::socket socket)
        : s_(state), stream_(beast::tcp_stream(std::move(socket)), state.tls) {
        ++s_.open;
    }
    ~Connection() {
        releaseBody();
        if (!countedAddress_.empty()) {
            s_.release(countedAddress_);
        }
        std::lock_guard lock(s_.mutex);
        s_.connections.erase(this);
        --s_.open;
    }

    void start() {
        {
            std::lock_guard lock(s_.mutex);
            s_.connections.emplace(this, weak_from_this());
        }
        beast::error_code ec;
        peer_ = addressText(lowest().socket().remote_endpoint(ec).address());
        client_ = peer_;
        lowest().socket().set_option(tcp::no_delay(true), ec);
        if (ec) {
            return close();
        }
        if (s_.trustedPeer(peer_)) {
            readProxyHeader();
        } else {
            admit(0);
        }
    }

    // Called on stop: a connection between requests goes now, one with a request in flight
    // once its answer is out.
    void drain() {
        if (!busy_) {
            close();
        }
    }

    asio::any_io_executor executor() { return stream_.get_executor(); }

  private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream_); }

    void close() {
        beast::error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
    }

    // PROXY protocol v2: a 16-byte preamble, then the addresses. A trusted peer that sends none
    // is a client itself, and those bytes were the start of its TLS handshake.
    void readProxyHeader() {
        lowest().expires_after(kHeadTime);
        asio::async_read(
            lowest(), asio::buffer(proxy_.data(), 16),
            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                if (ec) {
                    return self->close();
                }
                static const unsigned char kSignature[12] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                                             0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
                if (std::memcmp(self->proxy_.data(), kSignature, 12) != 0) {
                    return self->admit(16);
                }
                const std::size_t length = self->proxy_[14] << 8 | self->proxy_[15];
                if ((self->proxy_[12] & 0xF0) != 0x20 || length + 16 > self->proxy_.size()) {
                    return self->close();
                }
                asio::async_read(self->lowest(), asio::buffer(self->proxy_.data() + 16, length),
                                 [self](beast::error_code ec, std::size_t) {
                                     ec ? self->close() : self->proxied();
                                 });
            });
    }

    void proxied() {
        const unsigned char* addresses = proxy_.data() + 16;
        const bool command = (proxy_[12] & 0x0F) == 0x1;  // LOCAL (a health check) is the peer
        if (command && (proxy_[13] >> 4) == 0x1) {
            asio::ip::address_v4::bytes_type bytes;
            std::memcpy(bytes.data(), addresses, 4);
            client_ = asio::ip::address_v4(bytes).to_string();
        } else if (command && (proxy_[13] >> 4) == 0x2) {
            asio::ip::address_v6::bytes_type bytes;
            std::memcpy(bytes.data(), addresses, 16);
            client_ = addressText(asio::ip::address_v6(bytes));
        }
        proxyNamedClient_ = command;
        admit(0);
    }

    // A trusted proxy without a PROXY header is counted in all only: its clients are many.
    void admit(std::size_t alreadyRead) {
        if (!s_.trustedPeer(peer_) || proxyNamedClient_) {
            if (!s_.admit(client_)) {
                return close();
            }
            countedAddress_ = client_;
        }
        lowest().expires_after(kHeadTime);
        stream_.async_handshake(ssl::stream_base::server, asio::buffer(proxy_.data(), alreadyRead),
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    if (ec) {
                                        return self->close();
                                    }
                                    self->headDeadline_ = Clock::now() + kHeadTime;
                                    self->readHead();
                                });
    }

    // The next request: a kept-alive connection waits kIdleTime for its first byte, then its
    // head must come whole within kHeadTime.
    void nextRequest() {
        if (s_.stopping || served_ >= kMaxRequestsPerConnection) {
            return close();
        }
        if (buffer_.size() > 0) {
            headDeadline_ = Clock::now() + kHeadTime;
            return readHead();
        }
        lowest().expires_after(kIdleTime);
        stream_.async_read_some(buffer_.prepare(1024),
                                [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                    if (ec) {
                                        return self->close();
                                    }
                                    self->buffer_.commit(n);
                                    self->headDeadline_ = Clock::now() + kHeadTime;
                                    self->readHead();
                                });
    }

    void readHead() {
        parser_.emplace();
        parser_->header_limit(kMaxHeadBytes);
        parser_->body_limit(ChatEndpoint::kMaxBodyBytes);
        lowest().expires_at(headDeadline_);
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHead(ec); });
    }

    void onHead(beast::error_code ec) {
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            logServiceLine("Cut off a connection that sent more than its request may hold");
            return close();
        }
        busy_ = true;
        started_ = Clock::now();
        if (ec) {
            // A head that is no HTTP gets its answer; a connection that went or was too slow,
            // none.
            const bool malformed =
                ec.category() == make_error_code(http::error::bad_method).category() &&
                ec != http::error::end_of_stream && ec != http::error::partial_message;
            if (!malformed) {
                return close();
            }
            method_ = "-", path_ = "-";
            return reply(makeReply({400, "The request cannot be read."}), true);
        }
        const Request& req = parser_->get();
        keepAlive_ = req.keep_alive();
        method_ = std::string(req.method_string());
        const std::string_view target(req.target().data(), req.target().size());
        path_ = std::string(target.substr(0, target.find('?')));
        if (auto refusal = unreadableBody(req)) {
            // Without a length there is no body to skip; with any other refusal, no telling
            // where the next request starts.
            return reply(makeReply(*refusal), refusal->status == 400);
        }
        // Refused unread, so never inflated.
        if (req.method() == http::verb::post && encodedBody(req)) {
            return reply(makeReply({415, kEncodedBody}), true);
        }
        if (parser_->content_length() && *parser_->content_length() > ChatEndpoint::kMaxBodyBytes) {
            return reply(makeReply({413, "The request body is larger than 8 MiB."}), true);
        }
        if (!reserveBody(parser_->content_length().value_or(
                parser_->chunked() ? ChatEndpoint::kMaxBodyBytes : 0))) {
            Response busy = makeReply({503, "The service is busy. Please try again shortly."});
            busy.set(http::field::retry_after, "1");
            return reply(std::move(busy), true);
        }
        if (beast::iequals(header(req, "Expect"), "100-continue") && !parser_->is_done()) {
            auto proceed =
                std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            return http::async_write(
                stream_, *proceed,
                [self = shared_from_this(), proceed](beast::error_code ec, std::size_t) {
                    ec ? self->close() : self->readBody(Clock::now(), 0);
                });
        }
        readBody(Clock::now(), 0);
    }

    bool reserveBody(std::size_t bytes) {
        if (bytes == 0) {
            return true;
        }
        if (s_.bodyBytes.fetch_add(bytes) + bytes > kMaxBodyBytesInFlight) {
            s_.bodyBytes -= bytes;
            return false;
        }
        reservedBody_ = bytes;
        return true;
    }
    void releaseBody() {
        s_.bodyBytes -= reservedBody_;
        reservedBody_ = 0;
    }

    // The body, held once, at the rate a client that means it sends at.
    void readBody(Clock::time_point start, std::size_t received) {
        if (parser_->is_done()) {
            return route();
        }
        lowest().expires_at(start + kHeadTime + atRate(received));
        http::async_read_some(
            stream_, buffer_, *parser_,
            [self = shared_from_this(), start, received](beast::error_code ec, std::size_t n) {
                if (ec == http::error::body_limit) {
                    return self->reply(makeReply({413, "The request body is larger than 8 MiB."}),
                                       true);
                }
                if (ec) {
                    return self->close();
                }
                self->readBody(start, received + n);
            });
    }

    // The client's address as a trusted proxy forwarded it: the last address in
    // X-Forwarded-For that is not one of the trusted proxies.
    std::string requestClient(const Request& req) const {
        if (proxyNamedClient_ || !s_.trustedPeer(peer_)) {
            return client_;
        }
        std::string chain;
        for (auto [it, end] = req.equal_range("X-Forwarded-For"); it != end; ++it) {
            chain += (chain.empty() ? "" : ",") + std::string(it->value());
        }
        std::string found = client_;
        size_t end = chain.size();
        while (end != std::string::npos && end > 0) {
            const size_t comma = chain.rfind(',', end - 1);
            const size_t begin = comma == std::string::npos ? 0 : comma + 1;
            std::string entry = chain.substr(begin, end - begin);
            entry.erase(0, entry.find_first_not_of(' '));
            entry.erase(entry.find_last_not_of(' ') + 1);
            const auto parsed = parseNetwork(entry);
            if (!parsed || parsed->bits != 128) {
                break;
            }
            found = entry;
            if (!s_.trustedPeer(entry)) {
                break;
            }
            end = comma;
        }
        return found;
    }

    void route() {
        Request req = parser_->release();
        parser_.reset();
        const auto method = req.method();
        // HEAD asks what GET would answer, without the body.
        const bool get = method == http::verb::get || method == http::verb::head;
        if (path_ == "/api/chat" && method == http::verb::post) {
            return chat(std::move(req));
        }
        if (path_ == "/api/chat" && method == http::verb::options) {
            // What a client asks to open its connection ahead of a rewrite.
            Response res{http::status::no_content, 11};
            res.set(http::field::allow, "POST, OPTIONS");
            return reply(std::move(res));
        }
        if (path_ == "/auth/google" && method == http::verb::post) {
            return signIn(std::move(req));
        }
        if (path_ == "/auth/google" && get) {
            return reply(s_.config.passphrase.empty() ? signInUnavailable() : signInForm(200));
        }
        if (path_ == "/latest/version.json" && get) {
            return reply(makeReply(
                {200, nlohmann::json{{"version", s_.config.version}}.dump(), "application/json"}));
        }
        if (path_ == "/latest/Velmora.dmg" && get) {
            return installer();
        }
        if (path_ == "/healthz" && get) {
            return onDatabase(
                [&s = s_] {
                    s.store->check();
                    return makeReply({200, "ok"});
                },
                [] {
                    return makeReply({503, "The token database cannot be reached."});
                });
        }
        reply(makeReply({404, "Not found."}));
    }

    // Runs `job` on a database thread and answers with what it makes; `unavailable` when the
    // store cannot be reached.
    template <class Job, class Unavailable>
    void onDatabase(Job job, Unavailable unavailable) {
        asio::post(s_.database, [self = shared_from_this(), job = std::move(job),
                                 unavailable = std::move(unavailable)]() mutable {
            std::optional<Response> answer;
            try {
                answer = job();
                self->s_.storeWorked();
            } catch (const StoreUnavailable& problem) {
                self->s_.storeFailed(problem.what());
                answer = unavailable();
            }
            asio::post(self->executor(), [self, answer = std::move(*answer)]() mutable {
                self->reply(std::move(answer));
            });
        });
    }

    static Response unauthorized(const char* why) {
        Response res = makeReply({401, why});
        res.set(http::field::www_authenticate, "Bearer");
        return res;
    }

    void chat(Request req) {
        const std::string token = bearerToken(header(req, "Authorization"));
        if (token.empty()) {
            return reply(unauthorized("Missing bearer token."));
        }
        auto body = std::make_shared<std::string>(std::move(req.body()));
        asio::post(s_.database, [self = shared_from_this(), token, body] {
            int verdict = -1;
            try {
                verdict = self->s_.store->acceptToken(token) ? 1 : 0;
                self->s_.storeWorked();
            } catch (const StoreUnavailable& problem) {
                self->s_.storeFailed(problem.what());
            }
            asio::post(self->executor(), [self, verdict, body] { self->relay(verdict, *body); });
        });
    }

    void relay(int verdict, std::string& body) {
        if (verdict < 0) {
            return reply(makeReply({503, kStoreDown}));
        }
        if (verdict == 0) {
            return reply(unauthorized("Unknown or revoked token."));
        }
        LocalProxyRequestPayload request;
        if (auto refusal = s_.chat.read(body, request)) {
            return reply(makeReply(*refusal));
        }
        std::string().swap(body);
        if (!s_.relay) {
            return reply(makeReply(ChatEndpoint::noBackend()));
        }
        s_.relay->complete(executor(), s_.config.modelMap.at(request.model),
                           request.user_instructions, request.prompt,
                           [self = shared_from_this()](UpstreamResult result) {
                               self->reply(makeReply(self->s_.chat.answer(result)));
                           });
    }

    // A wrong passphrase costs the guesser, not the service: an address still waiting out a wrong
    // one is not heard at all, and nothing waits on the service's side.
    void signIn(Request req) {
        if (s_.config.passphrase.empty()) {
            return reply(signInUnavailable());
        }
        const auto fields = parseFormBody(req.body());
        const bool ownForm = fromOwnSignInPage(req, fields);
        const auto given = fields.find("passphrase");
        const bool right =
            given != fields.end() && constantTimeEquals(given->second, s_.config.passphrase);
        onDatabase(
            [&s = s_, client = requestClient(req), ownForm, right] {
                if (const long wait = s.throttle.waitBefore(client); wait > 0) {
                    Response res =
                        signInForm(429, "Too many wrong passphrases. You can try again in " +
                                            waitText(wait) + ".");
                    res.set(http::field::retry_after, std::to_string(wait));
                    return res;
                }
                if (!ownForm) {
                    return signInForm(403,
                                      "This form has expired or did not come from this service. "
                                      "Please enter the passphrase again.");
                }
                if (!right) {
                    const long wait = s.throttle.failed(client);
                    return signInForm(401,
                                      "That passphrase is not right. " +
                                          (wait > 0 ? "You can try again in " + waitText(wait) + "."
                                                    : std::string("Please try again.")));
                }
                s.throttle.succeeded(client);
                const auto token = s.store->issueToken();
                if (!token) {
                    return signInForm(500,
                                      "The service could not start a session. Please try again.");
                }
                const std::string callback = kCallbackPrefix + *token;
                Response res = makeReply({303, signedInPageHtml(callback), kHtml});
                res.set(http::field::location, callback);
                markSignInPage(res);
                return res;
            },
            [] { return signInForm(503, kStoreDown); });
    }

    void installer() {
        http::file_body::value_type file;
        beast::error_code ec;
        if (!s_.config.installerFile.empty()) {
            file.open(s_.config.installerFile.c_str(), beast::file_mode::scan, ec);
        }
        if (s_.config.installerFile.empty() || ec) {
            return reply(makeReply({404, "No installer is available."}));
        }
        auto res = std::make_shared<http::response<http::file_body>>(http::status::ok, 11);
        res->set(http::field::content_type, "application/x-apple-diskimage");
        res->set(http::field::content_disposition, "attachment; filename=\"Velmora.dmg\"");
        res->body() = std::move(file);
        write(res, false);
    }

    void reply(Response res, bool closeAfter = false) {
        write(std::make_shared<Response>(std::move(res)), closeAfter);
    }

    template <class Body>
    void write(std::shared_ptr<http::response<Body>> res, bool closeAfter) {
        ++served_;
        closeAfter =
            closeAfter || s_.stopping || served_ >= kMaxRequestsPerConnection || !keepAlive_;
        res->keep_alive(!closeAfter);
        res->prepare_payload();
        const std::size_t size = res->payload_size().value_or(0);
        lowest().expires_after(kHeadTime + atRate(size));
        // A response to HEAD is its head alone; a body after it would be read as the next answer.
        if (method_ == "HEAD") {
            auto head = std::make_shared<http::response_serializer<Body>>(*res);
            http::async_write_header(stream_, *head,
                                     [self = shared_from_this(), res, head, closeAfter](
                                         beast::error_code ec, std::size_t) {
                                         self->answered(res->result_int(), ec, closeAfter);
                                     });
            return;
        }
        http::async_write(
            stream_, *res,
            [self = shared_from_this(), res, closeAfter](beast::error_code ec, std::size_t) {
                self->answered(res->result_int(), ec, closeAfter);
            });
    }

    // Method, path (never the query), status and time taken: no token, prompt or answer.
    void answered(unsigned status, beast::error_code ec, bool closing) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
        logServiceLine(method_ + " " + path_ + " " + std::to_string(status) + " " +
                       std::to_string(ms) + " ms");
        busy_ = false;
        parser_.reset();
        releaseBody();
        if (ec) {
            return close();
        }
        if (closing) {
            return linger();
        }
        nextRequest();
    }

    // Ends a connection whose client may still be sending a body the service never read: the
    // answer is followed by the end of the stream, and what still comes is dropped for a moment,
    // so that the client reads the answer rather than a reset.
    void linger() {
        beast::error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
        lowest().expires_after(std::chrono::seconds(2));
        drop();
    }
    void drop() {
        lowest().async_read_some(asio::buffer(proxy_),
                                 [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                     ec ? self->close() : self->drop();
                                 });
    }

    State& s_;
    beast::ssl_stream<beast::tcp_stream> stream_;
    std::array<unsigned char, kMaxProxyHeaderBytes> proxy_{};
    std::string peer_;
    std::string client_;
    std::string countedAddress_;
    bool proxyNamedClient_ = false;
    beast::flat_buffer buffer_{kMaxHeadBytes + 16 * 1024};
    std::optional<http::request_parser<http::string_body>> parser_;
    Clock::time_point headDeadline_;
    Clock::time_point started_;
    std::string method_;
    std::string path_;
    bool busy_ = false;
    bool keepAlive_ = false;
    std::size_t reservedBody_ = 0;
    int served_ = 0;
};

}  // namespace

void VelmoraService::State::accept() {
    acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (!acceptor.is_open()) {
            return;
        }
        if (ec) {
            // Out of descriptors, say: try again shortly rather than spin.
            auto pause = std::make_shared<asio::steady_timer>(io, 50ms);
            return pause->async_wait([this, pause](beast::error_code) { accept(); });
        }
        if (open < config.maxConnections) {
            auto connection = std::make_shared<Connection>(*this, std::move(socket));
            asio::dispatch(connection->executor(), [connection] { connection->start(); });
        }
        accept();
    });
}

void VelmoraService::State::beginStop() {
    asio::post(acceptor.get_executor(), [this] {
        beast::error_code ignored;
        acceptor.close(ignored);
    });
    asio::post(io, [this] {
        {
            std::lock_guard lock(mutex);
            for (const auto& [raw, weak] : connections) {
                if (auto connection = weak.lock()) {
                    asio::post(connection->executor(), [connection] { connection->drain(); });
                }
            }
        }
        // Requests in flight may finish, up to the backend's deadline and a little more.
        const auto deadline =
            Clock::now() +
            std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(std::min(config.upstreamTimeout + 5, 120.0)));
        auto timer = std::make_shared<asio::steady_timer>(io);
        auto check = std::make_shared<std::function<void()>>();
        *check = [this, timer, check, deadline] {
            if (open == 0 || Clock::now() >= deadline) {
                work.reset();
                io.stop();
                *check = nullptr;
                return;
            }
            timer->expires_after(20ms);
            timer->async_wait([check](beast::error_code) {
                if (*check) {
                    (*check)();
                }
            });
        };
        (*check)();
    });
}

namespace {
std::mutex logMutex;
std::function<void(const std::string&)> logSink;
}  // namespace

void logServiceLine(const std::string& line) {
    std::lock_guard lock(logMutex);
    if (logSink) {
        logSink(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void setServiceLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(logMutex);
    logSink = std::move(sink);
}

std::unique_ptr<VelmoraService> VelmoraService::create(ServiceConfig config, std::string* error) {
    auto fail = [error](std::string text) -> std::unique_ptr<VelmoraService> {
        if (error) {
            *error = std::move(text);
        }
        return nullptr;
    };
    if (config.certFile.empty() || config.keyFile.empty()) {
        return fail(
            "a certificate and key are required (--cert, --key); service/make-dev-cert.sh makes "
            "a local pair");
    }
    std::string storeError;
    auto store = openTokenStore(config, &storeError);
    if (!store) {
        return fail(storeError);
    }
    auto state = std::make_unique<State>(std::move(config), std::move(store));
    beast::error_code ec;
    state->tls.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                           ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                           ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    // An idle connection gives its read and write buffers back: a few KiB each, not 34.
    SSL_CTX_set_mode(state->tls.native_handle(), SSL_MODE_RELEASE_BUFFERS);
    state->tls.use_certificate_chain_file(state->config.certFile, ec);
    if (!ec) {
        state->tls.use_private_key_file(state->config.keyFile, ssl::context::pem, ec);
    }
    if (ec) {
        return fail("cannot load the certificate " + state->config.certFile + " and key " +
                    state->config.keyFile);
    }
    if (!state->config.upstreamUrl.empty()) {
        const UpstreamSettings upstream{state->config.upstreamUrl, state->config.upstreamApiKey,
                                        state->config.upstreamCaFile,
                                        state->config.upstreamTimeout};
        std::string relayError;
        state->relay = UpstreamRelay::create(upstream, &relayError);
        if (!state->relay) {
            return fail(relayError);
        }
    }
    return std::unique_ptr<VelmoraService>(new VelmoraService(std::move(state)));
}

VelmoraService::VelmoraService(std::unique_ptr<State> state) : state_(std::move(state)) {}

VelmoraService::~VelmoraService() {
    stop();
    state_->database.join();
}

const ServiceConfig& VelmoraService::config() const {
    return state_->config;
}

std::string VelmoraService::storeDescription() const {
    return state_->store->description();
}

int VelmoraService::bind(std::string* error) {
    State& s = *state_;
    beast::error_code ec;
    const auto address = asio::ip::make_address(s.config.listen, ec);
    if (ec) {
        if (error) {
            *error = "cannot listen on " + s.config.listen + ": it is no IP address";
        }
        return -1;
    }
    // Each connection takes a descriptor: allow as many as the cap asks, within the hard limit.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 2 * s.config.maxConnections + 256);
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // Address reuse lets a restart take the port while old connections linger in TIME_WAIT,
    // but never shares it with another process listening there (no SO_REUSEPORT).
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(s.config.port));
    s.acceptor.open(endpoint.protocol(), ec);
    if (!ec) {
        s.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        s.acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        s.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        if (error) {
            *error = "cannot listen on " + s.config.listen + " port " +
                     std::to_string(s.config.port) + ": " + ec.message() +
                     (ec == asio::error::address_in_use
                          ? " (another process already listens there: stop it or choose another "
                            "--port)"
                          : "");
        }
        beast::error_code ignored;
        s.acceptor.close(ignored);
        return -1;
    }
    return s.acceptor.local_endpoint().port();
}

bool VelmoraService::run() {
    State& s = *state_;
    if (!s.acceptor.is_open()) {
        return false;
    }
    s.accept();
    s.serving = true;
    std::vector<std::thread> threads;
    for (int i = 1; i < serviceThreads(s.config); ++i) {
        threads.emplace_back([&s] { s.io.run(); });
    }
    s.io.run();
    for (auto& thread : threads) {
        thread.join();
    }
    s.serving = false;
    return true;
}

void VelmoraService::stop() {
    if (!state_->stopping.exchange(true)) {
        state_->beginStop();
    }
}

bool VelmoraService::running() const {
    return state_->serving;
}

}  // namespace velmora::service
