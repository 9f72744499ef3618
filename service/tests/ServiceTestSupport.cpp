#include "ServiceTestSupport.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "SignInPage.h"
#include "api/ProxyWireFormat.h"

namespace velmora::service::testing {

namespace {

void waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "server did not start";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-svc-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

const CertFiles& testCertificates() {
    static TempDir dir;
    static const CertFiles files = [] {
        const std::string command =
            std::string("bash '") + VELMORA_MAKE_DEV_CERT + "' '" + dir.path() + "' >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return CertFiles{dir.path() + "/ca.pem", dir.path() + "/server.pem",
                         dir.path() + "/server.key"};
    }();
    return files;
}

ScriptedUpstream::ScriptedUpstream() {
    server_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
        Script script;
        {
            std::lock_guard lock(mutex_);
            received_.push_back({req.path, req.get_header_value("Authorization"), req.body});
            script = script_;
        }
        if (script) {
            script(req, res);
        } else {
            res.status = 500;
        }
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    EXPECT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() does nothing until the server is serving, so the destructor must not come first.
    waitUntil([this] { return server_.is_running(); });
}

ScriptedUpstream::~ScriptedUpstream() {
    {
        std::lock_guard lock(mutex_);
        releasing_ = true;
    }
    released_.notify_all();
    server_.stop();
    thread_.join();
}

std::string ScriptedUpstream::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/v1";
}

void ScriptedUpstream::setScript(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

void ScriptedUpstream::answerWith(const std::string& content) {
    nlohmann::json reply = {{"id", "chatcmpl-1"},
                            {"object", "chat.completion"},
                            {"choices",
                             {{{"index", 0},
                               {"message", {{"role", "assistant"}, {"content", content}}},
                               {"finish_reason", "stop"}}}}};
    const std::string body = reply.dump();
    setScript([body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/json");
    });
}

void ScriptedUpstream::hang() {
    setScript([this](const httplib::Request&, httplib::Response& res) {
        std::unique_lock lock(mutex_);
        released_.wait_for(lock, std::chrono::seconds(60), [this] { return releasing_; });
        res.status = 500;
    });
}

std::vector<ScriptedUpstream::Received> ScriptedUpstream::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

RunningService::RunningService(ServiceConfig config) {
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (config.dataDir.empty()) {
        config.dataDir = dataDir_.path() + "/data";
    }
    std::string error;
    service_ = VelmoraService::create(std::move(config), &error);
    if (!service_) {
        ADD_FAILURE() << "service not created: " << error;
        return;
    }
    port_ = service_->bind();
    EXPECT_GT(port_, 0);
    thread_ = std::thread([this] { service_->run(); });
    waitUntil([this] { return service_->running(); });
}

RunningService::~RunningService() {
    if (service_) {
        service_->stop();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::unique_ptr<httplib::Client> RunningService::client() const {
    auto client = std::make_unique<httplib::Client>("https://127.0.0.1:" + std::to_string(port_));
    client->set_ca_cert_path(testCertificates().ca.c_str());
    client->enable_server_certificate_verification(true);
    client->set_connection_timeout(std::chrono::seconds(30));
    client->set_read_timeout(std::chrono::seconds(90));
    return client;
}

httplib::Result RunningService::postChat(const std::string& body, const std::string& token) const {
    httplib::Headers headers;
    if (!token.empty()) {
        headers.emplace("Authorization", "Bearer " + token);
    }
    return client()->Post("/api/chat", headers, body, "application/json");
}

std::string RunningService::signIn(const std::string& passphrase) const {
    auto result =
        client()->Post("/auth/google?platform=mac", httplib::Params{{"passphrase", passphrase}});
    if (!result || result->status != 303) {
        return {};
    }
    const std::string location = result->get_header_value("Location");
    const std::string prefix = kCallbackPrefix;
    return location.rfind(prefix, 0) == 0 ? location.substr(prefix.size()) : std::string();
}

LogRecorder::LogRecorder() {
    setServiceLogSink([this](const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
        changed_.notify_all();
    });
}

LogRecorder::~LogRecorder() {
    setServiceLogSink(nullptr);
}

bool LogRecorder::waitForLine(const std::string& part) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
        for (const auto& line : lines_) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    });
}

std::string LogRecorder::text() const {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const auto& line : lines_) {
        all += line + "\n";
    }
    return all;
}

ServiceConfig testConfig() {
    ServiceConfig config;
    config.port = 0;
    config.certFile = testCertificates().cert;
    config.keyFile = testCertificates().key;
    config.authDelay = 0.05;
    return config;
}

std::string chatBody(const std::string& prompt, const std::string& instructions) {
    return *encodeRequest({prompt, "google", "gemini-2.5-flash-preview-05-20", instructions});
}

}  // namespace velmora::service::testing
