#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

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

constexpr auto npos = std::string::npos;

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

void runSql(const std::string& dataDir, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open((dataDir + "/" + TokenDatabase::kFileName).c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// Every byte the service left in its data directory.
std::string dataDirBytes(const std::string& dataDir) {
    std::ostringstream all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dataDir)) {
        all << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    }
    return all.str();
}

TEST(SignIn, ThePageTakesOnlyItsOwnFormAndCannotBeFramed) {
    ServiceConfig config = testConfig();
    config.passphrase = "correct horse";
    RunningService service(config);
    auto page = service.client()->Get("/auth/google?platform=mac");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(page->get_header_value("X-Frame-Options"), "DENY");
    const std::string policy = page->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("frame-ancestors 'none'"), npos) << policy;
    EXPECT_NE(policy.find("default-src 'none'"), npos) << policy;
    EXPECT_EQ(policy.find("unsafe-inline"), npos) << policy;
    EXPECT_NE(page->get_header_value("Set-Cookie").find("; Secure; HttpOnly; SameSite=Strict"),
              npos);
    EXPECT_NE(page->body.find("type=\"password\" id=\"passphrase\" name=\"passphrase\""), npos);

    // A form without its cookie, with another token, or posted from elsewhere.
    const auto form = service.signInForm();
    for (const auto& [forged, headers] :
         {std::pair(RunningService::SignInForm{"", form.token}, httplib::Headers()),
          std::pair(RunningService::SignInForm{form.cookie, form.token + "x"}, httplib::Headers()),
          std::pair(form, httplib::Headers{{"Origin", "https://elsewhere.example"}}),
          std::pair(form, httplib::Headers{{"Sec-Fetch-Site", "cross-site"}})}) {
        auto refused = service.postSignIn("correct horse", forged, headers);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 403) << forged.cookie << " " << forged.token;
        EXPECT_FALSE(refused->has_header("Location"));
    }
    EXPECT_EQ(service.postSignIn("correct horse ")->status, 401);
    auto right = service.postSignIn("correct horse", form,
                                    {{"Origin", "null"}, {"Sec-Fetch-Site", "same-origin"}});
    ASSERT_TRUE(right);
    EXPECT_EQ(right->status, 303);
    EXPECT_EQ(right->get_header_value("X-Frame-Options"), "DENY");
    EXPECT_NE(right->body.find("handed to Velmora. You can close this tab."), npos);

    config.passphrase.clear();
    RunningService unavailable(config);
    EXPECT_EQ(unavailable.client()->Get("/auth/google?platform=mac")->status, 503);
    EXPECT_EQ(unavailable.signIn(""), "");
}

TEST(SignIn, WrongPassphrasesCostTheGuesserNotTheService) {
    ServiceConfig config = testConfig();
    config.authLockoutFailures = 3;
    config.authLockout = 600;
    RunningService service(config);
    EXPECT_EQ(service.postSignIn("wrong")->status, 401);
    EXPECT_EQ(service.postSignIn("wrong")->status, 401);
    EXPECT_FALSE(service.signIn("pw").empty());  // which forgets the failures
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(service.postSignIn("wrong")->status, 401);
    }
    // Locked out: not even the right passphrase is heard, while the rest of the service answers.
    auto locked = service.postSignIn("pw");
    ASSERT_TRUE(locked);
    EXPECT_EQ(locked->status, 429);
    EXPECT_FALSE(locked->has_header("Location"));
    const int retry = std::atoi(locked->get_header_value("Retry-After").c_str());
    EXPECT_TRUE(retry > 0 && retry <= 600) << retry;
    EXPECT_EQ(service.client()->Get("/latest/version.json")->status, 200);

    // With a delay, the next attempt must wait for it.
    config.authDelay = 60;
    RunningService delayed(config);
    auto wrong = delayed.postSignIn("wrong");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 401);
    EXPECT_NE(wrong->body.find("That passphrase is not right. You can try again in 60 seconds."),
              npos);
    EXPECT_NE(wrong->body.find("name=\"passphrase\""), npos);
    auto early = delayed.postSignIn("pw");
    ASSERT_TRUE(early);
    EXPECT_EQ(early->status, 429);
    const int wait = std::atoi(early->get_header_value("Retry-After").c_str());
    EXPECT_TRUE(wait > 0 && wait <= 60) << wait;
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
        auto result = service.postSignIn("pw");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 303);
        EXPECT_EQ(result->get_header_value("Cache-Control"), "no-store");
        const std::string location = result->get_header_value("Location");
        ASSERT_EQ(location.rfind(kCallbackPrefix, 0), 0u) << location;
        token = location.substr(std::string(kCallbackPrefix).size());
        EXPECT_EQ(token.size(), 43u);
        EXPECT_EQ(token.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  npos);
        EXPECT_NE(result->body.find("<a href=\"" + location + "\">"), npos);

        second = service.signIn("pw");
        EXPECT_NE(second, token);
        EXPECT_EQ(tokenRows(dir.path()).size(), 2u);
        const std::string lines = log.waitForLine("POST /auth/google 303 ");
        EXPECT_EQ(lines.find(token), npos) << lines;
        EXPECT_EQ(lines.find("platform=mac"), npos) << lines;
    }
    // The token outlives a restart and marks its use; with no backend, 503 means it passed.
    RunningService restarted(config);
    EXPECT_EQ(restarted.postChat(chatBody("t"), token)->status, 503);
    const auto rows = tokenRows(dir.path());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_GT(rows.at(sha256Hex(token)), 0);
    EXPECT_EQ(rows.at(sha256Hex(second)), 0);
    EXPECT_EQ(dataDirBytes(dir.path()).find(token), npos);

    RunningService stranger(testConfig());
    EXPECT_EQ(stranger.postChat(chatBody("t"), token)->status, 401);
}

TEST(SignIn, TokensExpireAndAnOlderDatabaseKeepsWorkingInAPrivateFile) {
    TempDir dir;
    // The first release's database, readable by all, with a token issued and used years ago.
    const std::string old = sha256Hex("old-token");
    runSql(dir.path(),
           "CREATE TABLE tokens (token_hash TEXT PRIMARY KEY NOT NULL, created_at INTEGER NOT "
           "NULL, last_used_at INTEGER); INSERT INTO tokens VALUES ('" +
               old + "', 1500000000, 1600000000)");
    const std::string file = dir.path() + "/" + TokenDatabase::kFileName;
    chmod(file.c_str(), 0644);
    ServiceConfig config = testConfig();
    config.dataDir = dir.path();
    RunningService service(config);
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // With no backend, 503 means the token passed.
    const auto status = [&](const std::string& token) {
        return service.postChat(chatBody("t"), token)->status;
    };
    EXPECT_EQ(status("old-token"), 503);
    EXPECT_GT(tokenRows(dir.path())[old], 1600000000);

    // A use within the hour after the last recorded one is not written.
    const std::string token = service.signIn("pw");
    const std::string hash = sha256Hex(token);
    EXPECT_EQ(status(token), 503);
    runSql(dir.path(),
           "UPDATE tokens SET last_used_at = last_used_at - 600 WHERE token_hash = '" + hash + "'");
    const long long recorded = tokenRows(dir.path())[hash];
    EXPECT_EQ(status(token), 503);
    EXPECT_EQ(tokenRows(dir.path())[hash], recorded);

    // Unused for 31 days; issued 181 days ago though used just now.
    runSql(dir.path(),
           "UPDATE tokens SET lifetime_start = lifetime_start - 31 * 86400, last_used_at = "
           "last_used_at - 31 * 86400 WHERE token_hash = '" +
               hash +
               "'; UPDATE tokens SET lifetime_start = lifetime_start - 181 * 86400 WHERE "
               "token_hash = '" +
               old + "'");
    EXPECT_EQ(status(token), 401);
    EXPECT_EQ(status("old-token"), 401);
    EXPECT_TRUE(tokenRows(dir.path()).empty());
}

}  // namespace
}  // namespace velmora::service::testing
