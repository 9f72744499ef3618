#include "ServiceTestSupport.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "SignInPage.h"
#include "api/ProxyWireFormat.h"

namespace velmora::service::testing {

TempDir::TempDir() {
    char pattern[] = "/tmp/velmora-service-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::filesystem::remove_all(path_);
}

ScriptedUpstream::ScriptedUpstream() {
    server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
        received.add(request);
        std::lock_guard lock(mutex_);
        response.status = status_;
        response.set_content(body_, "application/json");
    });
    serving_.emplace(server_);
}

std::string ScriptedUpstream::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(serving_->port()) + "/v1";
}

void ScriptedUpstream::reply(int status, std::string body) {
    std::lock_guard lock(mutex_);
    status_ = status;
    body_ = std::move(body);
}

void ScriptedUpstream::answerWith(const std::string& content) {
    const nlohmann::json message = {{"role", "assistant"}, {"content", content}};
    reply(200, nlohmann::json{{"choices", {{{"index", 0}, {"message", message}}}}}.dump());
}

std::unique_ptr<httplib::Client> clientFor(int port) {
    auto client = std::make_unique<httplib::Client>("https://127.0.0.1:" + std::to_string(port));
    client->set_ca_cert_path(testtls::certificates().authority.c_str());
    client->enable_server_certificate_verification(true);
    client->set_read_timeout(std::chrono::seconds(60));
    return client;
}

RunningService::RunningService(ServiceConfig config) {
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (config.dataDir.empty()) {
        config.dataDir = dataDir_.path();
    }
    std::string error;
    service_ = VelmoraService::create(std::move(config), &error);
    if (!service_) {
        ADD_FAILURE() << "service not created: " << error;
        return;
    }
    port_ = service_->bind();
    if (port_ <= 0) {
        ADD_FAILURE() << "cannot bind 127.0.0.1";
        service_.reset();
        return;
    }
    thread_ = std::thread([this] { service_->run(); });
    // stop() does nothing until the server is serving, so the destructor must not come first.
    while (!service_->running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

RunningService::~RunningService() {
    if (service_) {
        service_->stop();
        thread_.join();
    }
}

httplib::Result RunningService::postChat(const std::string& body, const std::string& token) const {
    httplib::Headers headers;
    if (!token.empty()) {
        headers.emplace("Authorization", "Bearer " + token);
    }
    return client()->Post("/api/chat", headers, body, "application/json");
}

RunningService::SignInForm RunningService::signInForm() const {
    const auto page = client()->Get("/auth/google?platform=mac");
    const std::string cookie = page ? page->get_header_value("Set-Cookie") : "";
    const std::string body = page ? page->body : "";
    std::smatch token;
    std::regex_search(
        body, token,
        std::regex(std::string("name=\"") + kFormTokenField + "\" value=\"([^\"]*)\""));
    return {cookie.substr(0, cookie.find(';')), token[1]};
}

httplib::Result RunningService::postSignIn(const std::string& passphrase, const SignInForm& form,
                                           const httplib::Headers& extra) const {
    httplib::Headers headers = extra;
    if (!form.cookie.empty()) {
        headers.emplace("Cookie", form.cookie);
    }
    return client()->Post(
        "/auth/google?platform=mac", headers,
        httplib::Params{{"passphrase", passphrase}, {kFormTokenField, form.token}});
}

std::string RunningService::signIn(const std::string& passphrase) const {
    auto result = postSignIn(passphrase);
    const std::string location = result ? result->get_header_value("Location") : "";
    const std::string prefix = kCallbackPrefix;
    return location.rfind(prefix, 0) == 0 ? location.substr(prefix.size()) : std::string();
}

LogLines::LogLines() {
    setServiceLogSink([this](const std::string& line) { add(line); });
}

LogLines::~LogLines() {
    setServiceLogSink(nullptr);
}

std::string LogLines::waitForLine(const std::string& part) {
    std::string all;
    for (const auto& line : waitUntil([&](const std::vector<std::string>& lines) {
             return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
                 return line.find(part) != std::string::npos;
             });
         })) {
        all += line + "\n";
    }
    EXPECT_NE(all.find(part), std::string::npos) << all;
    return all;
}

ServiceConfig testConfig() {
    ServiceConfig config;
    config.port = 0;
    config.certFile = testtls::certificates().certificate;
    config.keyFile = testtls::certificates().key;
    config.passphrase = "pw";
    config.authDelay = 0;
    return config;
}

std::string chatBody(const std::string& prompt, const std::string& instructions) {
    return *encodeRequest({prompt, kCatalogProvider, kDefaultModel, instructions});
}

}  // namespace velmora::service::testing
