#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "SecureTokens.h"
#include "ServiceTestSupport.h"
#include "SignInPage.h"
#include "SignInThrottle.h"
#include "TokenDatabase.h"
#include "TokenStore.h"

namespace velmora::service::testing {
namespace {

constexpr auto npos = std::string::npos;

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

// The tests about what is stored run over both stores.
class Stored : public ::testing::TestWithParam<bool> {
  protected:
    StoreUnderTest store{GetParam()};
};
INSTANTIATE_TEST_SUITE_P(SignIn, Stored, ::testing::ValuesIn(kStores), storeName);

TEST_P(Stored, WrongPassphrasesCostTheGuesserNotTheService) {
    ServiceConfig config = store.config();
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

    // With a delay, the next attempt must wait for it. Replicas on one database share the
    // throttle: the second knows the lockout from the first.
    config.authDelay = 60;
    RunningService delayed(config);
    if (store.postgres()) {
        EXPECT_EQ(delayed.postSignIn("pw")->status, 429);
        store.sql("DELETE FROM sign_in_throttle");
    }
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

TEST_P(Stored, TheRightPassphraseHandsOverATokenKeptOnlyAsItsHash) {
    const ServiceConfig config = store.config();
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
        EXPECT_EQ(store.tokenRows().size(), 2u);
        const std::string lines = log.waitForLine("POST /auth/google 303 ");
        EXPECT_EQ(lines.find(token), npos) << lines;
        EXPECT_EQ(lines.find("platform=mac"), npos) << lines;
    }
    // The token outlives a restart and marks its use; with no backend, 503 means it passed.
    RunningService restarted(config);
    EXPECT_EQ(restarted.postChat(chatBody("t"), token)->status, 503);
    const auto rows = store.tokenRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_GT(rows.at(sha256Hex(token)), 0);
    EXPECT_EQ(rows.at(sha256Hex(second)), 0);
    EXPECT_EQ(dataDirBytes(config.dataDir).find(token), npos);

    RunningService stranger(testConfig());
    EXPECT_EQ(stranger.postChat(chatBody("t"), token)->status, 401);
}

TEST_P(Stored, TokensExpireAndAnOlderDatabaseKeepsWorkingInAPrivateFile) {
    const ServiceConfig config = store.config();
    const std::string old = sha256Hex("old-token");
    const std::string file = config.dataDir + "/" + TokenDatabase::kFileName;
    if (!store.postgres()) {
        // The first release's database, readable by all, with a token issued and used years ago.
        store.sql(
            "CREATE TABLE tokens (token_hash TEXT PRIMARY KEY NOT NULL, created_at INTEGER "
            "NOT NULL, last_used_at INTEGER); INSERT INTO tokens VALUES ('" +
            old + "', 1500000000, 1600000000)");
        chmod(file.c_str(), 0644);
    }
    RunningService service(config);
    if (store.postgres()) {
        store.sql("INSERT INTO tokens VALUES ('" + old +
                  "', 1500000000, extract(epoch from now())::bigint, 1600000000)");
    } else {
        EXPECT_EQ(std::filesystem::status(file).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    // With no backend, 503 means the token passed.
    const auto status = [&](const std::string& token) {
        return service.postChat(chatBody("t"), token)->status;
    };
    EXPECT_EQ(status("old-token"), 503);
    EXPECT_GT(store.tokenRows()[old], 1600000000);

    // A use within the hour after the last recorded one is not written.
    const std::string token = service.signIn("pw");
    const std::string hash = sha256Hex(token);
    EXPECT_EQ(status(token), 503);
    store.sql("UPDATE tokens SET last_used_at = last_used_at - 600 WHERE token_hash = '" + hash +
              "'");
    const long long recorded = store.tokenRows()[hash];
    EXPECT_EQ(status(token), 503);
    EXPECT_EQ(store.tokenRows()[hash], recorded);

    // Unused for 31 days; issued 181 days ago though used just now.
    store.sql(
        "UPDATE tokens SET lifetime_start = lifetime_start - 31 * 86400, last_used_at = "
        "last_used_at - 31 * 86400 WHERE token_hash = '" +
        hash +
        "'; UPDATE tokens SET lifetime_start = lifetime_start - 181 * 86400 WHERE "
        "token_hash = '" +
        old + "'");
    EXPECT_EQ(status(token), 401);
    EXPECT_EQ(status("old-token"), 401);
    EXPECT_TRUE(store.tokenRows().empty());
}

// Filling the table from many addresses locks out the networks they come from, never a newcomer
// elsewhere; the oldest single failures make room first.
TEST_P(Stored, AFloodOfAddressesDoesNotStopANewcomer) {
    const ServiceConfig config = store.config();
    std::string error;
    auto tokens = openTokenStore(config, &error);
    ASSERT_TRUE(tokens) << error;
    SignInThrottle throttle({2, 10, 900, 100}, tokens->throttleTable());
    const double now = SignInThrottle::wallClock();
    throttle.failed("192.0.2.1", now - 1);
    for (int i = 0; i < 1000; ++i) {
        const std::string address =
            "10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200);
        throttle.failed(address, now);
        throttle.failed(address, now);
    }
    EXPECT_EQ(throttle.waitBefore("198.51.100.7", now), 0);
    EXPECT_EQ(throttle.failed("198.51.100.7", now), 2);
    EXPECT_EQ(throttle.waitBefore("192.0.2.1", now), 0);    // its one failure made room
    EXPECT_GT(throttle.waitBefore("10.0.4.250", now), 60);  // the flood's network is slowed
    EXPECT_EQ(throttle.waitBefore("2001:db8:1::1", now), 0);
    throttle.failed("2001:db8:1:2::1", now);
    EXPECT_GT(throttle.waitBefore("2001:db8:1:3::2", now), 0);  // grouped by its /48 when full
}

}  // namespace
}  // namespace velmora::service::testing
