#include "VelmoraService.h"

#include <httplib.h>
#include <strings.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "ConnectionLimits.h"
#include "SecureTokens.h"
#include "SignInPage.h"

namespace velmora::service {

// httplib's server, with its listening socket at hand.
class HttpsServer : public httplib::SSLServer {
  public:
    using SSLServer::SSLServer;
    int listeningSocket() const { return svr_sock_; }
};

namespace {

using Clock = std::chrono::steady_clock;

// Each request runs start to finish on one server thread, so the thread can carry its start
// time from routing to the log line.
thread_local std::optional<Clock::time_point> requestStart;

constexpr const char* kHtml = "text/html; charset=utf-8";
// The sign-in form's cookie; the __Host- prefix holds browsers to HTTPS, this host and Path=/.
constexpr std::string_view kFormCookie = "__Host-velmora-sign-in";

void reply(httplib::Response& res, const HttpReply& answer) {
    res.status = answer.status;
    res.set_content(answer.body, answer.contentType);
}

// Answers now and ends the connection after the answer, because the request's body stays unread.
void replyAndClose(httplib::Response& res, const HttpReply& answer) {
    reply(res, answer);
    res.set_header("Connection", "close");
    connection_limits::closeAfterAnswer();
}

// Set when the request's body came with a Content-Encoding, which the routes refuse.
thread_local bool encodedBody = false;

// A request whose body httplib would not take as sent, refused before it tries: a POST of no
// stated length it would read until the connection closes, a body on another method it would
// take for the next request, and a length that is ambiguous.
std::optional<HttpReply> unreadableBody(const httplib::Request& req) {
    const size_t lengths = req.get_header_value_count("Content-Length");
    const size_t encodings = req.get_header_value_count("Transfer-Encoding");
    const bool post = req.method == "POST";
    if (post && lengths + encodings == 0) {
        return HttpReply{411, "A request body needs a Content-Length."};
    }
    if (lengths + encodings > 1 ||
        (encodings == 1 &&
         strcasecmp(req.get_header_value("Transfer-Encoding").c_str(), "chunked") != 0) ||
        (!post && (encodings == 1 || req.get_header_value<uint64_t>("Content-Length") > 0))) {
        return HttpReply{400, "The request body cannot be taken."};
    }
    return std::nullopt;
}

// httplib inflates a body by its Content-Encoding as it reads it, after this check, and holds
// whatever comes out. Without the header it reads the body as sent, within the payload limit;
// the routes then refuse it.
void takeEncodedBodyAsSent(const httplib::Request& req) {
    encodedBody = false;
    for (auto [it, end] = req.headers.equal_range("Content-Encoding"); it != end; ++it) {
        encodedBody = encodedBody || strcasecmp(it->second.c_str(), "identity") != 0;
    }
    // The request is httplib's own, not a constant: it is lent to the handler as const only.
    const_cast<httplib::Request&>(req).headers.erase("Content-Encoding");
}

constexpr const char* kEncodedBody = "Request bodies are taken without a Content-Encoding.";

// Sign-in pages are never cached, framed, referred onwards or taken for anything but HTML.
void markSignInPage(httplib::Response& res) {
    static const std::string policy = signInPagePolicy();
    res.set_header("Cache-Control", "no-store");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Content-Security-Policy", policy);
}

// The sign-in form with a fresh form token, which also goes into a cookie that other sites can
// neither read nor have the browser send with their own requests.
void sendSignInForm(httplib::Response& res, int status, const std::string& error = {}) {
    const auto formToken = makeSessionToken();
    if (!formToken) {
        reply(res, {500, "The service could not make a sign-in form. Please try again."});
        return;
    }
    res.status = status;
    res.set_header("Set-Cookie", std::string(kFormCookie) + "=" + *formToken +
                                     "; Path=/; Secure; HttpOnly; SameSite=Strict");
    res.set_content(signInPageHtml(*formToken, error), kHtml);
}

// The value of the cookie `name`, or empty.
std::string cookie(const httplib::Request& req, std::string_view name) {
    for (auto [it, end] = req.headers.equal_range("Cookie"); it != end; ++it) {
        std::string_view rest = it->second;
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

// True when the form came from a sign-in page this service gave this browser: its hidden token
// matches the cookie sent with that page. Origin and Sec-Fetch-Site, when the browser sends
// them, must name this service too. (Our pages send no referrer, so their Origin is "null".)
bool fromOwnSignInPage(const httplib::Request& req,
                       const std::map<std::string, std::string>& fields) {
    const std::string origin = req.get_header_value("Origin");
    if (!origin.empty() && origin != "null" &&
        strcasecmp(origin.c_str(), ("https://" + req.get_header_value("Host")).c_str()) != 0) {
        return false;
    }
    const std::string site = req.get_header_value("Sec-Fetch-Site");
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

void serveVersion(const ServiceConfig& config, httplib::Response& res) {
    res.set_content(nlohmann::json{{"version", config.version}}.dump(), "application/json");
}

void serveInstaller(const ServiceConfig& config, httplib::Response& res) {
    std::error_code ec;
    const auto size =
        config.installerFile.empty() ? 0 : std::filesystem::file_size(config.installerFile, ec);
    auto file = std::make_shared<std::ifstream>(config.installerFile, std::ios::binary);
    if (config.installerFile.empty() || ec || !*file) {
        res.status = 404;
        res.set_content("No installer is available.", "text/plain; charset=utf-8");
        return;
    }
    res.set_header("Content-Disposition", "attachment; filename=\"Velmora.dmg\"");
    res.set_content_provider(size, "application/x-apple-diskimage",
                             [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                 char buffer[64 * 1024];
                                 file->seekg(static_cast<std::streamoff>(offset));
                                 const auto wanted = std::min(length, sizeof(buffer));
                                 file->read(buffer, static_cast<std::streamsize>(wanted));
                                 const auto got = file->gcount();
                                 return got > 0 && sink.write(buffer, static_cast<size_t>(got));
                             });
}

}  // namespace

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
    auto server = std::make_unique<HttpsServer>(config.certFile.c_str(), config.keyFile.c_str());
    if (!server->is_valid()) {
        return fail("cannot load the certificate " + config.certFile + " and key " +
                    config.keyFile);
    }
    std::string dbError;
    const auto seconds = [](double value) {
        return std::max<std::int64_t>(1, std::llround(value));
    };
    auto tokens =
        TokenDatabase::open(resolvedDataDir(config), &dbError,
                            {seconds(config.tokenIdleLifetime), seconds(config.tokenLifetime)});
    if (!tokens) {
        return fail(dbError);
    }
    auto service = std::unique_ptr<VelmoraService>(
        new VelmoraService(std::move(config), std::move(tokens), std::move(server)));
    service->installRoutes();
    return service;
}

VelmoraService::VelmoraService(ServiceConfig config, std::unique_ptr<TokenDatabase> tokens,
                               std::unique_ptr<HttpsServer> server)
    : config_(std::move(config)),
      tokens_(std::move(tokens)),
      server_(std::move(server)),
      chat_(config_, *tokens_),
      throttle_({config_.authDelay, config_.authLockoutFailures, config_.authLockout}) {}

VelmoraService::~VelmoraService() {
    stop();
}

int VelmoraService::bind() {
    int port = -1;
    if (config_.port == 0) {
        port = server_->bind_to_any_port(config_.listen);
    } else if (server_->bind_to_port(config_.listen, config_.port)) {
        port = config_.port;
    }
    // httplib listens with room for 5 unaccepted connections; a burst beyond that waits for the
    // clients to try again a second later. Listening again widens the room.
    if (port > 0) {
        ::listen(server_->listeningSocket(), SOMAXCONN);
    }
    return port;
}

bool VelmoraService::run() {
    return server_->listen_after_bind();
}

void VelmoraService::stop() {
    if (server_) {
        server_->stop();
    }
}

bool VelmoraService::running() const {
    return server_ && server_->is_running();
}

void VelmoraService::installRoutes() {
    HttpsServer& server = *server_;
    server.set_payload_max_length(ChatEndpoint::kMaxBodyBytes);
    // Headers and body go out in separate writes; without this the body waits for the client's
    // delayed acknowledgement of the headers.
    server.set_tcp_nodelay(true);
    server.new_task_queue = [threads = config_.threads] {
        return connection_limits::workerPool(static_cast<size_t>(threads)).release();
    };
    connection_limits::watch(server.ssl_context());

    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        requestStart = Clock::now();
        if (auto refusal = unreadableBody(req)) {
            // Without a length there is no body to skip; with any other refusal, no telling
            // where the next request starts.
            refusal->status == 400 ? replyAndClose(res, *refusal) : reply(res, *refusal);
            return httplib::Server::HandlerResponse::Handled;
        }
        takeEncodedBodyAsSent(req);
        connection_limits::headRead(req.has_header("Transfer-Encoding")
                                        ? ChatEndpoint::kMaxBodyBytes
                                        : req.get_header_value<uint64_t>("Content-Length"));
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Method, path (never the query), status and time taken: no token, prompt or answer.
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        // Whatever httplib makes of a cut-off connection's leftovers reaches no one.
        if (connection_limits::cut()) {
            return;
        }
        long long ms = 0;
        if (requestStart) {
            ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *requestStart)
                     .count();
        }
        requestStart.reset();
        logServiceLine(req.method + " " + req.path + " " + std::to_string(res.status) + " " +
                       std::to_string(ms) + " ms");
        connection_limits::answered();
    });

    // The body is read here rather than by httplib so that it is held once, at its final size.
    server.Post("/api/chat", [this](const httplib::Request& req, httplib::Response& res,
                                    const httplib::ContentReader& read) {
        const auto length = req.get_header_value<uint64_t>("Content-Length");
        std::string body;
        body.reserve(std::min<uint64_t>(length, ChatEndpoint::kMaxBodyBytes));
        bool tooLarge = length > ChatEndpoint::kMaxBodyBytes;
        const bool whole = read([&](const char* data, size_t size) {
            tooLarge = size > ChatEndpoint::kMaxBodyBytes - body.size();
            if (!tooLarge) {
                body.append(data, size);
            }
            return !tooLarge;
        });
        if (!whole) {
            const HttpReply refusal = tooLarge
                                          ? HttpReply{413, "The request body is larger than 8 MiB."}
                                          : HttpReply{400, "The request body is incomplete."};
            // httplib reads and drops a body over the limit when told its length; any other
            // is left partly unread.
            length > ChatEndpoint::kMaxBodyBytes ? reply(res, refusal)
                                                 : replyAndClose(res, refusal);
            return;
        }
        reply(res, encodedBody ? HttpReply{415, kEncodedBody}
                               : chat_.handle(req.get_header_value("Authorization"), body));
        if (res.status == 401) {
            res.set_header("WWW-Authenticate", "Bearer");
        }
    });

    server.Get("/auth/google", [this](const httplib::Request&, httplib::Response& res) {
        markSignInPage(res);
        if (config_.passphrase.empty()) {
            res.status = 503;
            res.set_content(signInUnavailableHtml(), kHtml);
            return;
        }
        sendSignInForm(res, 200);
    });
    server.Post("/auth/google",
                [this](const httplib::Request& req, httplib::Response& res) { signIn(req, res); });

    server.Get("/latest/version.json", [this](const httplib::Request&, httplib::Response& res) {
        serveVersion(config_, res);
    });
    server.Get("/latest/Velmora.dmg", [this](const httplib::Request&, httplib::Response& res) {
        serveInstaller(config_, res);
    });
}

void VelmoraService::signIn(const httplib::Request& req, httplib::Response& res) {
    markSignInPage(res);
    if (encodedBody) {
        reply(res, {415, kEncodedBody});
        return;
    }
    if (config_.passphrase.empty()) {
        res.status = 503;
        res.set_content(signInUnavailableHtml(), kHtml);
        return;
    }
    // An address still waiting out a wrong passphrase is not heard at all.
    if (const long wait = throttle_.waitBefore(req.remote_addr); wait > 0) {
        res.set_header("Retry-After", std::to_string(wait));
        sendSignInForm(res, 429,
                       "Too many wrong passphrases. You can try again in " + waitText(wait) + ".");
        return;
    }
    const auto fields = parseFormBody(req.body);
    if (!fromOwnSignInPage(req, fields)) {
        sendSignInForm(res, 403,
                       "This form has expired or did not come from this service. Please enter "
                       "the passphrase again.");
        return;
    }
    const auto given = fields.find("passphrase");
    if (given == fields.end() || !constantTimeEquals(given->second, config_.passphrase)) {
        const long wait = throttle_.failed(req.remote_addr);
        sendSignInForm(res, 401,
                       "That passphrase is not right. " +
                           (wait > 0 ? "You can try again in " + waitText(wait) + "."
                                     : std::string("Please try again.")));
        return;
    }
    throttle_.succeeded(req.remote_addr);
    const auto token = tokens_->issueToken();
    if (!token) {
        sendSignInForm(res, 500, "The service could not start a session. Please try again.");
        return;
    }
    const std::string callback = kCallbackPrefix + *token;
    res.status = 303;
    res.set_header("Location", callback);
    res.set_content(signedInPageHtml(callback), kHtml);
}

}  // namespace velmora::service
