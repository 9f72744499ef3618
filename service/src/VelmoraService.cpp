#include "VelmoraService.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "SecureTokens.h"
#include "SignInPage.h"

namespace velmora::service {
namespace {

using Clock = std::chrono::steady_clock;

// Each request runs start to finish on one server thread, so the thread can carry its start
// time from routing to the log line.
thread_local std::optional<Clock::time_point> requestStart;

constexpr const char* kHtml = "text/html; charset=utf-8";

void reply(httplib::Response& res, const HttpReply& answer) {
    res.status = answer.status;
    res.set_content(answer.body, answer.contentType);
}

// Pages that carry or lead to a session token are never cached nor referred onwards.
void markPrivate(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("Referrer-Policy", "no-referrer");
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
    auto server =
        std::make_unique<httplib::SSLServer>(config.certFile.c_str(), config.keyFile.c_str());
    if (!server->is_valid()) {
        return fail("cannot load the certificate " + config.certFile + " and key " +
                    config.keyFile);
    }
    std::string dbError;
    auto tokens = TokenDatabase::open(resolvedDataDir(config), &dbError);
    if (!tokens) {
        return fail(dbError);
    }
    auto service = std::unique_ptr<VelmoraService>(
        new VelmoraService(std::move(config), std::move(tokens), std::move(server)));
    service->installRoutes();
    return service;
}

VelmoraService::VelmoraService(ServiceConfig config, std::unique_ptr<TokenDatabase> tokens,
                               std::unique_ptr<httplib::SSLServer> server)
    : config_(std::move(config)),
      tokens_(std::move(tokens)),
      server_(std::move(server)),
      chat_(config_, *tokens_) {}

VelmoraService::~VelmoraService() {
    stop();
}

int VelmoraService::bind() {
    if (config_.port == 0) {
        return server_->bind_to_any_port(config_.listen);
    }
    return server_->bind_to_port(config_.listen, config_.port) ? config_.port : -1;
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
    httplib::SSLServer& server = *server_;
    server.set_payload_max_length(ChatEndpoint::kMaxBodyBytes);

    server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        requestStart = Clock::now();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Method, path (never the query), status and time taken: no token, prompt or answer.
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        long long ms = 0;
        if (requestStart) {
            ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *requestStart)
                     .count();
        }
        requestStart.reset();
        logServiceLine(req.method + " " + req.path + " " + std::to_string(res.status) + " " +
                       std::to_string(ms) + " ms");
    });

    server.Post("/api/chat", [this](const httplib::Request& req, httplib::Response& res) {
        reply(res, chat_.handle(req.get_header_value("Authorization"), req.body));
        if (res.status == 401) {
            res.set_header("WWW-Authenticate", "Bearer");
        }
    });

    server.Get("/auth/google", [this](const httplib::Request&, httplib::Response& res) {
        markPrivate(res);
        if (config_.passphrase.empty()) {
            res.status = 503;
            res.set_content(signInUnavailableHtml(), kHtml);
            return;
        }
        res.set_content(signInPageHtml(), kHtml);
    });

    server.Post("/auth/google", [this](const httplib::Request& req, httplib::Response& res) {
        markPrivate(res);
        if (config_.passphrase.empty()) {
            res.status = 503;
            res.set_content(signInUnavailableHtml(), kHtml);
            return;
        }
        const auto fields = parseFormBody(req.body);
        const auto given = fields.find("passphrase");
        if (given == fields.end() || !constantTimeEquals(given->second, config_.passphrase)) {
            {
                std::lock_guard gate(wrongPassphraseGate_);
                std::this_thread::sleep_for(std::chrono::duration<double>(config_.authDelay));
            }
            res.status = 401;
            res.set_content(signInPageHtml("That passphrase is not right. Please try again."),
                            kHtml);
            return;
        }
        const auto token = tokens_->issueToken();
        if (!token) {
            res.status = 500;
            res.set_content(signInPageHtml("The service could not start a session. Please try "
                                           "again."),
                            kHtml);
            return;
        }
        const std::string callback = kCallbackPrefix + *token;
        res.status = 303;
        res.set_header("Location", callback);
        res.set_content(signedInPageHtml(callback), kHtml);
    });

    server.Get("/latest/version.json", [this](const httplib::Request&, httplib::Response& res) {
        serveVersion(config_, res);
    });
    server.Get("/latest/Velmora.dmg", [this](const httplib::Request&, httplib::Response& res) {
        serveInstaller(config_, res);
    });
}

}  // namespace velmora::service
