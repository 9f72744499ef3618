#include "ServiceTestSupport.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/stat.h>

#include <sqlite3.h>
#include <csignal>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "SignInPage.h"
#include "TokenDatabase.h"
#include "api/ProxyWireFormat.h"

namespace velmora::service::testing {

namespace {
// A client writing to a connection the service has cut off gets an error, not a signal.
const bool ignoreBrokenPipes = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}  // namespace

TempDir::TempDir() {
    char pattern[] = "/tmp/velmora-service-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::filesystem::remove_all(path_);
}

namespace {
std::string scratchPostgres(const std::string& command, const std::string& dir) {
    std::string output;
    FILE* pipe = popen(("bash " VELMORA_SCRATCH_POSTGRES " " + command + " " + dir).c_str(), "r");
    char line[512];
    while (pipe && std::fgets(line, sizeof line, pipe)) {
        output += line;
    }
    const int status = pipe ? pclose(pipe) : -1;
    EXPECT_TRUE(status == 0 || WEXITSTATUS(status) == 77) << command << ": " << output;
    return WEXITSTATUS(status) == 0 ? output.substr(0, output.find('\n')) : std::string();
}
}  // namespace

ScratchPostgres::ScratchPostgres() {
    // Its own folder below is the unprivileged server's; this one it must be able to pass.
    chmod(dir_.path().c_str(), 0755);
    conninfo_ = scratchPostgres("start", dir_.path() + "/pg");
}

ScratchPostgres::~ScratchPostgres() {
    if (!conninfo_.empty()) {
        scratchPostgres("stop", dir_.path() + "/pg");
    }
}

StoreUnderTest::StoreUnderTest(bool postgres) {
    if (postgres) {
        postgres_.emplace();
        if (postgres_->conninfo().empty()) {
            ADD_FAILURE() << "no PostgreSQL 15 (package postgresql-15)";
        }
    }
}

ServiceConfig StoreUnderTest::config() const {
    ServiceConfig config = testConfig();
    config.dataDir = dataDir_.path();
    config.database = postgres_ ? postgres_->conninfo() : "";
    return config;
}

std::map<std::string, long long> StoreUnderTest::sql(const std::string& statement) const {
    std::map<std::string, long long> rows;
    if (postgres_) {
        PGconn* db = PQconnectdb(postgres_->conninfo().c_str());
        PGresult* result = PQexec(db, statement.c_str());
        EXPECT_NE(PQresultStatus(result), PGRES_FATAL_ERROR) << PQerrorMessage(db);
        for (int i = 0; i < PQntuples(result); ++i) {
            rows.emplace(PQgetvalue(result, i, 0), std::atoll(PQgetvalue(result, i, 1)));
        }
        PQclear(result);
        PQfinish(db);
        return rows;
    }
    sqlite3* db = nullptr;
    sqlite3_open((dataDir_.path() + "/" + TokenDatabase::kFileName).c_str(), &db);
    const auto addRow = [](void* out, int, char** values, char**) {
        static_cast<std::map<std::string, long long>*>(out)->emplace(values[0],
                                                                     std::atoll(values[1]));
        return 0;
    };
    EXPECT_EQ(sqlite3_exec(db, statement.c_str(), addRow, &rows, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    return rows;
}

std::string storeName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "PostgreSQL" : "SQLite";
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
    if (config.dataDir.empty()) {
        config.dataDir = dataDir_.path();
    }
    std::string error;
    service_ = VelmoraService::create(std::move(config), &error);
    if (!service_) {
        ADD_FAILURE() << "service not created: " << error;
        return;
    }
    port_ = service_->bind(&error);
    if (port_ <= 0) {
        ADD_FAILURE() << error;
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
