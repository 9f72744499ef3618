// The Secret Service keychain against a real gnome-keyring (run-with-keyring.sh) or a session bus
// with no secrets provider at all (run-without-secrets.sh, tests named NoProvider*).
#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "auth/KeychainTokenStore.h"
#include "platform/linux/LinuxServices.h"
#include "support/TestPlatform.h"

namespace velmora::desktop {
namespace {

using platform::Keychain;

const platform::KeychainIdentity tokenIdentity{"com.mendwell.authtoken", "sessionToken"};

Keychain::Bytes bytes(const std::string& text) {
    return Keychain::Bytes(text.begin(), text.end());
}

// What `secret-tool lookup` prints for the token item, or none when it finds nothing.
std::optional<std::string> secretToolLookup() {
    FILE* pipe =
        popen("secret-tool lookup service com.mendwell.authtoken account sessionToken", "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string output;
    std::array<char, 256> buffer{};
    while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) {
        output.append(buffer.data(), n);
    }
    return pclose(pipe) == 0 ? std::optional(output) : std::nullopt;
}

TEST(SecretServiceKeychain, ItemLifecycleAnswersTheStatusesTheTokenStoreTellsApart) {
    auto keychain = makeSecretServiceKeychain();
    keychain->remove(tokenIdentity);

    std::optional<Keychain::Bytes> value;
    EXPECT_EQ(keychain->copyMatching(tokenIdentity, value), platform::errSecItemNotFound);
    EXPECT_EQ(keychain->update(tokenIdentity, bytes("first")), platform::errSecItemNotFound);
    EXPECT_FALSE(secretToolLookup().has_value()) << "update must not create the item";

    ASSERT_EQ(
        keychain->add(tokenIdentity, bytes("first"), platform::KeychainAccessibility::WhenUnlocked),
        platform::errSecSuccess);
    EXPECT_EQ(secretToolLookup(), "first");

    const std::string token = "tök€n-2 with spaces";
    EXPECT_EQ(keychain->update(tokenIdentity, bytes(token)), platform::errSecSuccess);
    ASSERT_EQ(keychain->copyMatching(tokenIdentity, value), platform::errSecSuccess);
    EXPECT_EQ(value, bytes(token));
    EXPECT_EQ(secretToolLookup(), token);

    // Another account under the same service is another item.
    const platform::KeychainIdentity other{"com.mendwell.authtoken", "otherAccount"};
    EXPECT_EQ(keychain->copyMatching(other, value), platform::errSecItemNotFound);

    EXPECT_EQ(keychain->remove(tokenIdentity), platform::errSecSuccess);
    EXPECT_EQ(keychain->remove(tokenIdentity), platform::errSecItemNotFound);
    EXPECT_FALSE(secretToolLookup().has_value());
}

TEST(SecretServiceKeychain, TokenStoreRoundTripsThroughTheRealStore) {
    auto keychain = makeSecretServiceKeychain();
    KeychainTokenStore store(*keychain);
    store.deleteToken();

    velmora::testing::LogCapture log;
    EXPECT_TRUE(store.saveToken("session-abc"));
    EXPECT_TRUE(store.saveToken("session-def"));
    EXPECT_EQ(store.loadToken(), "session-def");
    EXPECT_EQ(secretToolLookup(), "session-def");
    EXPECT_TRUE(store.deleteToken());
    EXPECT_EQ(store.loadToken(), std::nullopt);

    const std::vector<std::string> expected = {
        "Keychain: Token not found, attempting to add new one.",
        "Keychain: Token added successfully.",
        "Keychain: Token updated successfully.",
        "Keychain: Token loaded successfully.",
        "Keychain: Token deleted successfully (or was not found).",
        "Keychain: Token not found.",
    };
    EXPECT_EQ(log.lines(), expected);
}

// Locks the default collection the way the desktop does after a timeout or at screen lock.
bool lockDefaultCollection() {
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    if (service == nullptr) {
        return false;
    }
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr);
    bool locked = false;
    if (collection != nullptr) {
        GList* objects = g_list_append(nullptr, collection);
        locked = secret_service_lock_sync(service, objects, nullptr, nullptr, nullptr) > 0;
        g_list_free(objects);
        g_object_unref(collection);
    }
    g_object_unref(service);
    return locked;
}

TEST(SecretServiceKeychain, LockedCollectionIsNotMistakenForAMissingItem) {
    auto keychain = makeSecretServiceKeychain();
    ASSERT_EQ(keychain->add(tokenIdentity, bytes("locked-away"),
                            platform::KeychainAccessibility::WhenUnlocked),
              platform::errSecSuccess);
    // No display to prompt on, so the unlock request cannot succeed.
    ASSERT_TRUE(lockDefaultCollection());

    std::optional<Keychain::Bytes> value;
    EXPECT_EQ(keychain->copyMatching(tokenIdentity, value), platform::errSecAuthFailed);
    EXPECT_FALSE(value.has_value());
    EXPECT_EQ(keychain->update(tokenIdentity, bytes("new")), platform::errSecAuthFailed);
    EXPECT_TRUE(keychain->errorMessage(platform::errSecAuthFailed).has_value());
}

TEST(NoProvider, EveryOperationFailsWithTheLibrarysMessage) {
    auto keychain = makeSecretServiceKeychain();
    std::optional<Keychain::Bytes> value;
    const platform::OSStatus status = keychain->copyMatching(tokenIdentity, value);
    EXPECT_NE(status, platform::errSecSuccess);
    EXPECT_NE(status, platform::errSecItemNotFound);
    const std::optional<std::string> message = keychain->errorMessage(status);
    ASSERT_TRUE(message.has_value());
    EXPECT_NE(message->find("org.freedesktop.secrets"), std::string::npos) << *message;

    EXPECT_NE(
        keychain->add(tokenIdentity, bytes("x"), platform::KeychainAccessibility::WhenUnlocked),
        platform::errSecSuccess);
    EXPECT_NE(keychain->remove(tokenIdentity), platform::errSecSuccess);
    EXPECT_NE(keychain->remove(tokenIdentity), platform::errSecItemNotFound);
}

TEST(NoProvider, TokenStoreLogsTheFailureAndNeverFallsBack) {
    auto keychain = makeSecretServiceKeychain();
    KeychainTokenStore store(*keychain);
    velmora::testing::LogCapture log;
    EXPECT_FALSE(store.saveToken("session-abc"));
    EXPECT_EQ(store.loadToken(), std::nullopt);

    const std::string expected =
        "Keychain: Error updating token - -25308. The name org.freedesktop.secrets was not "
        "provided by any .service files";
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines().front(), expected);
    EXPECT_EQ(log.lines().back().rfind("Keychain: Error loading token - -25308. ", 0), 0U);
    for (const std::string& line : log.lines()) {
        EXPECT_EQ(line.find("session-abc"), std::string::npos);
    }
}

}  // namespace
}  // namespace velmora::desktop
