#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "SecureTokens.h"
#include "ServiceTestSupport.h"
#include "TokenDatabase.h"

namespace velmora::service::testing {
namespace {

struct TokenRow {
    std::string hash;
    long long createdAt = 0;
    long long lastUsedAt = 0;  // 0 when never used
};

std::vector<TokenRow> tokenRows(const std::string& dataDir) {
    std::vector<TokenRow> rows;
    sqlite3* db = nullptr;
    const std::string path = dataDir + "/" + TokenDatabase::kFileName;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT token_hash, created_at, coalesce(last_used_at, 0) "
                                 "FROM tokens",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        rows.push_back({reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                        sqlite3_column_int64(stmt, 1), sqlite3_column_int64(stmt, 2)});
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

// Every byte the service left in its data directory.
std::string dataDirBytes(const std::string& dataDir) {
    std::string all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dataDir)) {
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream contents;
            contents << in.rdbuf();
            all += contents.str();
        }
    }
    return all;
}

ServiceConfig signInConfig(const std::string& dataDir, double authDelay = 0.05) {
    ServiceConfig config = testConfig();
    config.passphrase = "correct horse battery staple";
    config.dataDir = dataDir;
    config.authDelay = authDelay;
    return config;
}

TEST(SignIn, ThePageAsksForThePassphrase) {
    TempDir dir;
    RunningService service(signInConfig(dir.path()));
    auto page = service.client()->Get("/auth/google?platform=mac");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(page->get_header_value("Cache-Control"), "no-store");
    EXPECT_NE(page->body.find("<form method=\"post\" action=\"/auth/google?platform=mac\">"),
              std::string::npos);
    EXPECT_NE(page->body.find("type=\"password\" id=\"passphrase\" name=\"passphrase\""),
              std::string::npos);
}

TEST(SignIn, TheRightPassphraseRedirectsWithAWorkingTokenKeptOnlyAsItsHash) {
    TempDir dir;
    ScriptedUpstream upstream;
    upstream.answerWith("Rewritten.");
    ServiceConfig config = signInConfig(dir.path());
    config.upstreamUrl = upstream.baseUrl();
    RunningService service(config);
    LogRecorder recorder;

    auto result =
        service.client()->Post("/auth/google?platform=mac",
                               httplib::Params{{"passphrase", "correct horse battery staple"}});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 303);
    const std::string location = result->get_header_value("Location");
    const std::string prefix = "velmora://auth/callback?token=";
    ASSERT_EQ(location.rfind(prefix, 0), 0u) << location;
    const std::string token = location.substr(prefix.size());
    EXPECT_EQ(token.size(), 43u);
    EXPECT_EQ(
        token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
        std::string::npos);
    EXPECT_NE(result->body.find("<a href=\"" + location + "\">"), std::string::npos);
    EXPECT_EQ(result->get_header_value("Cache-Control"), "no-store");

    auto rows = tokenRows(dir.path());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].hash, sha256Hex(token));
    EXPECT_GT(rows[0].createdAt, 0);
    EXPECT_EQ(rows[0].lastUsedAt, 0);

    auto chat = service.postChat(chatBody("text"), token);
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->status, 200);
    EXPECT_GE(tokenRows(dir.path())[0].lastUsedAt, rows[0].createdAt);

    // A second sign-in makes a different token; both work.
    const std::string second = service.signIn("correct horse battery staple");
    EXPECT_FALSE(second.empty());
    EXPECT_NE(second, token);
    EXPECT_EQ(tokenRows(dir.path()).size(), 2u);

    EXPECT_TRUE(recorder.waitForLine("POST /auth/google 303 "));
    EXPECT_EQ(recorder.text().find(token), std::string::npos);
    EXPECT_EQ(recorder.text().find("platform=mac"), std::string::npos);
    EXPECT_EQ(dataDirBytes(dir.path()).find(token), std::string::npos);
}

TEST(SignIn, AWrongPassphraseShowsThePageAgainAfterTheDelayAndIssuesNothing) {
    TempDir dir;
    RunningService service(signInConfig(dir.path(), 0.4));

    for (const auto& params :
         {httplib::Params{{"passphrase", "correct horse battery"}},
          httplib::Params{{"passphrase", "correct horse battery staple "}},
          httplib::Params{{"passphrase", ""}}, httplib::Params{{"other", "x"}}}) {
        const auto start = std::chrono::steady_clock::now();
        auto result = service.client()->Post("/auth/google?platform=mac", params);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 401);
        EXPECT_FALSE(result->has_header("Location"));
        EXPECT_NE(result->body.find("That passphrase is not right. Please try again."),
                  std::string::npos);
        EXPECT_NE(result->body.find("name=\"passphrase\""), std::string::npos);
        EXPECT_GE(elapsed, std::chrono::milliseconds(400));
    }
    EXPECT_TRUE(tokenRows(dir.path()).empty());
}

TEST(SignIn, WithoutAPassphraseConfiguredSignInIsUnavailable) {
    TempDir dir;
    ServiceConfig config = signInConfig(dir.path());
    config.passphrase.clear();
    RunningService service(config);
    auto page = service.client()->Get("/auth/google?platform=mac");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 503);
    auto post = service.client()->Post("/auth/google", httplib::Params{{"passphrase", ""}});
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 503);
    EXPECT_TRUE(tokenRows(dir.path()).empty());
}

TEST(SignIn, TokensSurviveARestartAndBelongToTheirDatabase) {
    TempDir dir;
    TempDir otherDir;
    std::string token;
    {
        RunningService first(signInConfig(dir.path()));
        token = first.signIn("correct horse battery staple");
        ASSERT_FALSE(token.empty());
    }
    // Without a backend, 503 shows the token passed the check; 401 would come first.
    RunningService restarted(signInConfig(dir.path()));
    auto accepted = restarted.postChat(chatBody("text"), token);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->status, 503);

    RunningService stranger(signInConfig(otherDir.path()));
    auto rejected = stranger.postChat(chatBody("text"), token);
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->status, 401);
}

}  // namespace
}  // namespace velmora::service::testing
