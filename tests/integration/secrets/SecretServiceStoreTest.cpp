// The secret store against a real gnome-keyring, or a session bus with no Secret Service at all
// (tests named NoProvider*). There is no display, so a locked keyring cannot be unlocked.
#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <array>
#include <cstdio>

#include "platform/linux/SecretServiceStore.h"

namespace velmora::desktop {
namespace {

using platform::SecretStatus;

const platform::SecretKey kToken{"com.mendwell.authtoken", "sessionToken"};

// What `secret-tool lookup` prints for the token item, or none when it finds nothing.
std::optional<std::string> secretToolLookup() {
    FILE* pipe =
        popen("secret-tool lookup service com.mendwell.authtoken account sessionToken", "r");
    std::string output;
    std::array<char, 256> buffer{};
    while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) {
        output.append(buffer.data(), n);
    }
    return pclose(pipe) == 0 ? std::optional(output) : std::nullopt;
}

TEST(SecretServiceStore, ItemLifecycleAnswersTypedStatuses) {
    SecretServiceStore store;
    store.remove(kToken);
    EXPECT_EQ(store.lookup(kToken).status, SecretStatus::NotFound);
    EXPECT_EQ(store.replace(kToken, "first").status, SecretStatus::NotFound);
    EXPECT_FALSE(secretToolLookup().has_value()) << "replace must not create the item";

    ASSERT_EQ(store.add(kToken, "first").status, SecretStatus::Ok);
    EXPECT_EQ(secretToolLookup(), "first");
    const std::string token = "tök€n-2 with spaces";
    EXPECT_EQ(store.replace(kToken, token).status, SecretStatus::Ok);
    EXPECT_EQ(store.lookup(kToken).value, token);
    EXPECT_EQ(secretToolLookup(), token);
    EXPECT_EQ(store.lookup({kToken.service, "otherAccount"}).status, SecretStatus::NotFound);

    EXPECT_EQ(store.remove(kToken).status, SecretStatus::Ok);
    EXPECT_EQ(store.remove(kToken).status, SecretStatus::NotFound);
    EXPECT_FALSE(secretToolLookup().has_value());
}

// A copy in another collection (here the session one) is updated where it is, and no second item
// is left for a later read to find.
TEST(SecretServiceStore, ReplaceUpdatesTheItemWhereItIsAndLeavesOne) {
    SecretServiceStore store;
    store.remove(kToken);
    SecretSchema schema{};
    schema.name = "any";
    schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
    ASSERT_TRUE(secret_password_store_sync(&schema, SECRET_COLLECTION_SESSION, "elsewhere", "old",
                                           nullptr, nullptr, "service", kToken.service.c_str(),
                                           "account", kToken.account.c_str(), nullptr));
    ASSERT_EQ(store.replace(kToken, "new").status, SecretStatus::Ok);
    GList* items = secret_password_search_sync(&schema, SECRET_SEARCH_ALL, nullptr, nullptr,
                                               "service", kToken.service.c_str(), nullptr);
    EXPECT_EQ(g_list_length(items), 1u);
    g_list_free_full(items, g_object_unref);
    EXPECT_EQ(store.lookup(kToken).value, "new");
    store.remove(kToken);
}

// Locks the default collection the way the desktop does after a timeout or at screen lock.
bool lockDefaultCollection() {
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr);
    GList* objects = g_list_append(nullptr, collection);
    const bool locked = secret_service_lock_sync(service, objects, nullptr, nullptr, nullptr) > 0;
    g_list_free(objects);
    g_object_unref(collection);
    g_object_unref(service);
    return locked;
}

TEST(SecretServiceStore, LockedKeyringIsRefusedNotMissing) {
    SecretServiceStore store;
    ASSERT_EQ(store.add(kToken, "locked-away").status, SecretStatus::Ok);
    ASSERT_TRUE(lockDefaultCollection());
    const platform::SecretLookup looked = store.lookup(kToken);
    EXPECT_EQ(looked.status, SecretStatus::Refused);
    EXPECT_FALSE(looked.message.empty());
    EXPECT_EQ(looked.value, "");
    EXPECT_EQ(store.replace(kToken, "new").status, SecretStatus::Refused);
}

TEST(NoProvider, EveryCallIsUnavailableWithTheLibrarysMessage) {
    SecretServiceStore store;
    const platform::SecretResult looked = store.lookup(kToken);
    EXPECT_EQ(looked.status, SecretStatus::Unavailable);
    EXPECT_NE(looked.message.find("org.freedesktop.secrets"), std::string::npos) << looked.message;
    EXPECT_EQ(store.add(kToken, "x").status, SecretStatus::Unavailable);
    EXPECT_EQ(store.remove(kToken).status, SecretStatus::Unavailable);
}

}  // namespace
}  // namespace velmora::desktop
