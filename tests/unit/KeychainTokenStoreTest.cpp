#include <gtest/gtest.h>

#include "auth/KeychainTokenStore.h"
#include "support/TestPlatform.h"

namespace velmora {
namespace {

using Lines = std::vector<std::string>;
using platform::SecretResult;
using platform::SecretStatus;

class KeychainTokenStoreTest : public ::testing::Test {
  protected:
    testing::FakeSecretStore secrets;
    testing::LogCapture log;
    KeychainTokenStore store{secrets};
};

TEST_F(KeychainTokenStoreTest, SavesAddThenReplaceAndRoundTripByteForByte) {
    const std::string token = "ключ-🔑-é\u0301";
    EXPECT_TRUE(store.saveToken("first"));
    EXPECT_TRUE(store.saveToken(token));
    EXPECT_EQ(store.loadToken(), token);
    EXPECT_EQ(secrets.secrets,
              (std::map<std::string, std::string>{{"com.mendwell.authtoken/sessionToken", token}}));
    EXPECT_EQ(log.lines(),
              (Lines{"Keychain: Token not found, attempting to add new one.",
                     "Keychain: Token added successfully.", "Keychain: Token updated successfully.",
                     "Keychain: Token loaded successfully."}));
}

TEST_F(KeychainTokenStoreTest, FailuresAreLoggedWithTheirStatusAndMessage) {
    secrets.forced["replace"] = {SecretStatus::Refused, "The keyring is locked."};
    EXPECT_FALSE(store.saveToken("tok"));
    secrets.forced["replace"] = {SecretStatus::Unavailable, ""};
    EXPECT_FALSE(store.saveToken("tok"));
    secrets.forced.erase("replace");
    secrets.forced["add"] = {SecretStatus::Unavailable, "No Secret Service."};
    EXPECT_FALSE(store.saveToken("tok"));
    EXPECT_FALSE(store.saveToken(std::string("bad\xff", 4)));
    EXPECT_TRUE(secrets.secrets.empty());
    EXPECT_EQ(log.lines(),
              (Lines{"Keychain: Error updating token - -25293. The keyring is locked.",
                     "Keychain: Update failed due to an authorization/ownership issue.",
                     "Keychain: Error updating token - -25308. Unknown error",
                     "Keychain: Token not found, attempting to add new one.",
                     "Keychain: Error adding new token - -25308. No Secret Service.",
                     "Keychain: Failed to convert token to data."}));
}

TEST_F(KeychainTokenStoreTest, LoadOutcomes) {
    EXPECT_EQ(store.loadToken(), std::nullopt);
    secrets.storeToken(std::string("\xC3\x28"));
    EXPECT_EQ(store.loadToken(), std::nullopt);
    secrets.forced["lookup"] = {SecretStatus::Unavailable, ""};
    EXPECT_EQ(store.loadToken(), std::nullopt);
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Token not found.",
                                  "Keychain: Failed to convert loaded data to token string.",
                                  "Keychain: Error loading token - -25308. Unknown error"}));
}

TEST_F(KeychainTokenStoreTest, DeleteOutcomes) {
    EXPECT_TRUE(store.deleteToken());  // nothing stored still counts as deleted
    secrets.storeToken("abc");
    EXPECT_TRUE(store.deleteToken());
    EXPECT_EQ(secrets.token(), std::nullopt);
    secrets.storeToken("abc");
    secrets.forced["remove"] = {SecretStatus::Refused, ""};
    EXPECT_FALSE(store.deleteToken());
    secrets.forced["remove"] = {SecretStatus::Unavailable, "gone"};
    EXPECT_FALSE(store.deleteToken());
    EXPECT_EQ(secrets.token(), "abc");
    EXPECT_EQ(log.lines(), (Lines{"Keychain: Token deleted successfully (or was not found).",
                                  "Keychain: Token deleted successfully (or was not found).",
                                  "Keychain: Error deleting token - -25293. Unknown error",
                                  "Keychain: Delete failed due to an authorization/ownership "
                                  "issue.",
                                  "Keychain: Error deleting token - -25308. gone"}));
}

}  // namespace
}  // namespace velmora
