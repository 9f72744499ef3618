#include <gtest/gtest.h>

#include "auth/KeychainTokenStore.h"
#include "support/TestPlatform.h"

namespace velmora {
namespace {

using Lines = std::vector<std::string>;

class KeychainTokenStoreTest : public ::testing::Test {
  protected:
    testing::TestKeychain keychain;
    testing::LogCapture log;
    KeychainTokenStore store{keychain};
};

TEST_F(KeychainTokenStoreTest, FirstSaveAddsThenLaterSavesUpdate) {
    EXPECT_TRUE(store.saveToken("tok-1"));
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Token not found, attempting to add new one.",
                                  "Keychain: Token added successfully."}));
    ASSERT_EQ(keychain.calls.size(), 2u);
    EXPECT_EQ(keychain.calls[0].operation, "update");
    EXPECT_EQ(keychain.calls[1].operation, "add");
    EXPECT_EQ(keychain.calls[1].identity.service, "com.mendwell.authtoken");
    EXPECT_EQ(keychain.calls[1].identity.account, "sessionToken");
    EXPECT_EQ(keychain.calls[1].accessibility, platform::KeychainAccessibility::WhenUnlocked);

    log.clear();
    keychain.calls.clear();
    EXPECT_TRUE(store.saveToken("tok-2"));
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Token updated successfully."}));
    ASSERT_EQ(keychain.calls.size(), 1u);  // never a delete or an add before an update
    EXPECT_EQ(keychain.storedToken(), "tok-2");
}

TEST_F(KeychainTokenStoreTest, RoundTripsNonAsciiTokensByteForByte) {
    const std::string token = "ключ-🔑-é\u0301";
    ASSERT_TRUE(store.saveToken(token));
    EXPECT_EQ(store.loadToken(), token);
    for (const auto& line : log.lines()) {
        EXPECT_EQ(line.find(token), std::string::npos) << line;
    }
}

TEST_F(KeychainTokenStoreTest, SaveFailures) {
    keychain.messages[-25293] = "The user name or passphrase you entered is not correct.";
    keychain.forcedStatus["update"] = -25293;
    EXPECT_FALSE(store.saveToken("tok"));
    EXPECT_EQ(log.lines(),
              (Lines{"Keychain: Error updating token - -25293. The user name or passphrase you "
                     "entered is not correct.",
                     "Keychain: Update failed due to an authorization/ownership issue."}));
    EXPECT_EQ(keychain.calls.size(), 1u);  // no add attempted

    log.clear();
    keychain.forcedStatus["update"] = -34;
    EXPECT_FALSE(store.saveToken("tok"));
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Error updating token - -34. Unknown error"}));

    log.clear();
    keychain.forcedStatus.erase("update");
    keychain.forcedStatus["add"] = -61;
    keychain.messages[-61] = "Write permissions error.";
    EXPECT_FALSE(store.saveToken("tok"));
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Token not found, attempting to add new one.",
                                  "Keychain: Error adding new token - -61. Write permissions "
                                  "error."}));

    log.clear();
    EXPECT_FALSE(store.saveToken(std::string("bad\xff", 4)));
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Failed to convert token to data."}));
}

TEST_F(KeychainTokenStoreTest, LoadOutcomes) {
    EXPECT_EQ(store.loadToken(), std::nullopt);
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Token not found."}));

    log.clear();
    keychain.forcedStatus["copyMatching"] = -25308;
    EXPECT_EQ(store.loadToken(), std::nullopt);
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Error loading token - -25308. Unknown error"}));
    keychain.forcedStatus.clear();

    log.clear();
    keychain.items["com.mendwell.authtoken/sessionToken"] = {{0xC3, 0x28}, std::nullopt};
    EXPECT_EQ(store.loadToken(), std::nullopt);
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Failed to convert loaded data to token string."}));

    log.clear();
    keychain.storeToken("abc");
    keychain.copyMatchingReturnsNonData = true;
    EXPECT_EQ(store.loadToken(), std::nullopt);
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Failed to convert loaded data to token string."}));

    log.clear();
    keychain.copyMatchingReturnsNonData = false;
    EXPECT_EQ(store.loadToken(), "abc");
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Token loaded successfully."}));
}

TEST_F(KeychainTokenStoreTest, DeleteOutcomes) {
    EXPECT_TRUE(store.deleteToken());  // nothing stored still counts as deleted
    keychain.storeToken("abc");
    EXPECT_TRUE(store.deleteToken());
    EXPECT_EQ(keychain.storedToken(), std::nullopt);
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Token deleted successfully (or was not found).",
                                  "Keychain: Token deleted successfully (or was not found)."}));

    log.clear();
    keychain.storeToken("abc");
    keychain.forcedStatus["remove"] = -25293;
    EXPECT_FALSE(store.deleteToken());
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Error deleting token - -25293. Unknown error",
                                  "Keychain: Delete failed due to an authorization/ownership "
                                  "issue."}));
    EXPECT_EQ(keychain.storedToken(), "abc");

    log.clear();
    keychain.forcedStatus["remove"] = -4;
    EXPECT_FALSE(store.deleteToken());
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Error deleting token - -4. Unknown error"}));
}

}  // namespace
}  // namespace velmora
