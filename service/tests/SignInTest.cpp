#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "SecureTokens.h"
#include "ServiceTestSupport.h"
#include "SignInPage.h"
#include "TokenDatabase.h"

namespace velmora::service::testing {
namespace {

// The stored token hashes with their last use (0 when never used).
std::map<std::string, long long> tokenRows(const std::string& dataDir) {
    std::map<std::string, long long> rows;
    sqlite3* db = nullptr;
    sqlite3_open_v2((dataDir + "/" + TokenDatabase::kFileName).c_str(), &db, SQLITE_OPEN_READONLY,
                    nullptr);
    sqlite3_stmt* row = nullptr;
    sqlite3_prepare_v2(db, "SELECT token_hash, coalesce(last_used_at, 0) FROM tokens", -1, &row,
                       nullptr);
    while (row && sqlite3_step(row) == SQLITE_ROW) {
        rows.emplace(reinterpret_cast<const char*>(sqlite3_column_text(row, 0)),
                     sqlite3_column_int64(row, 1));
    }
    sqlite3_finalize(row);
    sqlite3_close(db);
    return rows;
}

// Every byte the service left in its data directory.
std::string dataDirBytes(const std::string& dataDir) {
    std::ostringstream all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dataDir)) {
        all << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    }
    return all.str();
}

TEST(SignIn, ThePageAsksForThePassphraseAndRefusesAWrongOneAfterTheDelay) {
    TempDir dir;
    ServiceConfig config = testConfig();
    config.passphrase = "correct horse";
    config.dataDir = dir.path();
    config.authDelay = 0.3;
    RunningService service(config);
    auto page = service.client()->Get("/auth/google?platform=mac");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Cache-Control"), "no-store");
    EXPECT_NE(page->body.find("<form method=\"post\" action=\"/auth/google?platform=mac\">"),
              std::string::npos);
    EXPECT_NE(page->body.find("type=\"password\" id=\"passphrase\" name=\"passphrase\""),
              std::string::npos);

    for (const auto& params : {httplib::Params{{"passphrase", "correct"}},
                               httplib::Params{{"passphrase", "correct horse "}},
                               httplib::Params{{"other", "correct horse"}}}) {
        const auto start = std::chrono::steady_clock::now();
        auto wrong = service.client()->Post("/auth/google?platform=mac", params);
        ASSERT_TRUE(wrong);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_EQ(wrong->status, 401);
        EXPECT_FALSE(wrong->has_header("Location"));
        EXPECT_NE(wrong->body.find("That passphrase is not right."), std::string::npos);
        EXPECT_NE(wrong->body.find("name=\"passphrase\""), std::string::npos);
    }
    EXPECT_TRUE(tokenRows(dir.path()).empty());

    config.passphrase.clear();
    RunningService unavailable(config);
    EXPECT_EQ(unavailable.client()->Get("/auth/google?platform=mac")->status, 503);
    EXPECT_EQ(unavailable.signIn(""), "");
}

TEST(SignIn, TheRightPassphraseHandsOverATokenKeptOnlyAsItsHash) {
    TempDir dir;
    ServiceConfig config = testConfig();
    config.dataDir = dir.path();
    std::string token;
    std::string second;
    {
        RunningService service(config);
        LogLines log;
        auto result = service.client()->Post("/auth/google?platform=mac",
                                             httplib::Params{{"passphrase", "pw"}});
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 303);
        EXPECT_EQ(result->get_header_value("Cache-Control"), "no-store");
        const std::string location = result->get_header_value("Location");
        ASSERT_EQ(location.rfind(kCallbackPrefix, 0), 0u) << location;
        token = location.substr(std::string(kCallbackPrefix).size());
        EXPECT_EQ(token.size(), 43u);
        EXPECT_EQ(token.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::string::npos);
        EXPECT_NE(result->body.find("<a href=\"" + location + "\">"), std::string::npos);

        second = service.signIn("pw");
        EXPECT_NE(second, token);
        EXPECT_EQ(tokenRows(dir.path()).size(), 2u);
        const std::string lines = log.waitForLine("POST /auth/google 303 ");
        EXPECT_EQ(lines.find(token), std::string::npos) << lines;
        EXPECT_EQ(lines.find("platform=mac"), std::string::npos) << lines;
    }
    // The token outlives a restart and marks its use; with no backend, 503 means it passed.
    RunningService restarted(config);
    EXPECT_EQ(restarted.postChat(chatBody("t"), token)->status, 503);
    const auto rows = tokenRows(dir.path());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_GT(rows.at(sha256Hex(token)), 0);
    EXPECT_EQ(rows.at(sha256Hex(second)), 0);
    EXPECT_EQ(dataDirBytes(dir.path()).find(token), std::string::npos);

    RunningService stranger(testConfig());
    EXPECT_EQ(stranger.postChat(chatBody("t"), token)->status, 401);
}

}  // namespace
}  // namespace velmora::service::testing
