#include <libsecret/secret.h>

#include <map>

#include "platform/linux/LinuxServices.h"
#include "platform/linux/ServeEventsWhile.h"

namespace velmora::desktop {
namespace {

using platform::OSStatus;

// Matched by attributes only, so other tools (secret-tool) find the item by service and account.
const SecretSchema tokenSchema = {
    "com.mendwell.authtoken",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

struct Attributes {
    explicit Attributes(const platform::KeychainIdentity& identity)
        : table(g_hash_table_new(g_str_hash, g_str_equal)) {
        g_hash_table_insert(table, const_cast<char*>("service"),
                            const_cast<char*>(identity.service.c_str()));
        g_hash_table_insert(table, const_cast<char*>("account"),
                            const_cast<char*>(identity.account.c_str()));
    }
    ~Attributes() { g_hash_table_unref(table); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;

    GHashTable* table;
};

class SecretServiceKeychain : public platform::Keychain {
  public:
    OSStatus update(const platform::KeychainIdentity& identity, const Bytes& value) override {
        std::optional<Bytes> existing;
        const OSStatus status = copyMatching(identity, existing);
        if (status != platform::errSecSuccess) {
            return status;
        }
        return store(identity, value);
    }

    OSStatus add(const platform::KeychainIdentity& identity, const Bytes& value,
                 platform::KeychainAccessibility) override {
        return store(identity, value);
    }

    OSStatus copyMatching(const platform::KeychainIdentity& identity,
                          std::optional<Bytes>& result) override {
        GError* error = nullptr;
        SecretService* service =
            secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
        if (service == nullptr) {
            return failure(error);
        }
        const Attributes attributes(identity);
        // Locked items are asked for too: a locked collection must not pass for a missing item.
        const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                                          SECRET_SEARCH_LOAD_SECRETS);
        GList* items = secret_service_search_sync(service, &tokenSchema, attributes.table, flags,
                                                  nullptr, &error);
        g_object_unref(service);
        if (error != nullptr) {
            return failure(error);
        }
        const OSStatus status = readFirst(items, result);
        g_list_free_full(items, g_object_unref);
        return status;
    }

    OSStatus remove(const platform::KeychainIdentity& identity) override {
        GError* error = nullptr;
        const Attributes attributes(identity);
        const gboolean removed =
            secret_password_clearv_sync(&tokenSchema, attributes.table, nullptr, &error);
        if (error != nullptr) {
            return failure(error);
        }
        return removed ? platform::errSecSuccess : platform::errSecItemNotFound;
    }

    std::optional<std::string> errorMessage(OSStatus status) override {
        if (const auto found = messages_.find(status); found != messages_.end()) {
            return found->second;
        }
        switch (status) {
            case platform::errSecSuccess:
                return "No error.";
            case platform::errSecItemNotFound:
                return "The specified item could not be found in the keychain.";
            case platform::errSecAuthFailed:
                return "The user name or passphrase you entered is not correct.";
            default:
                return std::nullopt;
        }
    }

  private:
    OSStatus store(const platform::KeychainIdentity& identity, const Bytes& value) {
        GError* error = nullptr;
        const Attributes attributes(identity);
        SecretValue* secret = secret_value_new(reinterpret_cast<const gchar*>(value.data()),
                                               static_cast<gssize>(value.size()), "text/plain");
        const gboolean stored = secret_password_storev_binary_sync(
            &tokenSchema, attributes.table, SECRET_COLLECTION_DEFAULT, identity.service.c_str(),
            secret, nullptr, &error);
        secret_value_unref(secret);
        if (!stored) {
            return failure(error);
        }
        return platform::errSecSuccess;
    }

    OSStatus readFirst(GList* items, std::optional<Bytes>& result) {
        if (items == nullptr) {
            return platform::errSecItemNotFound;
        }
        auto* item = static_cast<SecretItem*>(items->data);
        SecretValue* secret = secret_item_get_locked(item) ? nullptr : secret_item_get_secret(item);
        if (secret == nullptr) {
            // Still locked after the unlock request: refused or nobody could answer the prompt.
            messages_[platform::errSecAuthFailed] = "The keyring holding the item is locked.";
            return platform::errSecAuthFailed;
        }
        gsize length = 0;
        const gchar* bytes = secret_value_get(secret, &length);
        result = Bytes(bytes, bytes + length);
        secret_value_unref(secret);
        return platform::errSecSuccess;
    }

    // Turns the library's error into a status and keeps its text for errorMessage().
    OSStatus failure(GError* error) {
        OSStatus status = platform::errSecServiceNotAvailable;
        std::string message = "The Secret Service could not be reached.";
        if (error != nullptr) {
            const bool refused = g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED) ||
                                 g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED) ||
                                 g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            if (refused) {
                status = platform::errSecAuthFailed;
            }
            message = error->message;
            g_error_free(error);
        }
        messages_[status] = message;
        return status;
    }

    std::map<OSStatus, std::string> messages_;
};

// The store's calls wait on another process, and on the keyring's unlock prompt when it is locked:
// meanwhile the main thread keeps serving the clipboard Velmora may own, so other programs' pastes
// never hang on it.
class EventServingKeychain : public platform::Keychain {
  public:
    OSStatus update(const platform::KeychainIdentity& identity, const Bytes& value) override {
        return serve([&] { return store_.update(identity, value); });
    }
    OSStatus add(const platform::KeychainIdentity& identity, const Bytes& value,
                 platform::KeychainAccessibility accessibility) override {
        return serve([&] { return store_.add(identity, value, accessibility); });
    }
    OSStatus copyMatching(const platform::KeychainIdentity& identity,
                          std::optional<Bytes>& result) override {
        return serve([&] { return store_.copyMatching(identity, result); });
    }
    OSStatus remove(const platform::KeychainIdentity& identity) override {
        return serve([&] { return store_.remove(identity); });
    }
    std::optional<std::string> errorMessage(OSStatus status) override {
        return store_.errorMessage(status);
    }

  private:
    template <typename Call>
    OSStatus serve(const Call& call) {
        OSStatus status = platform::errSecServiceNotAvailable;
        runServingEvents([&] { status = call(); });
        return status;
    }

    SecretServiceKeychain store_;
};

}  // namespace

std::unique_ptr<platform::Keychain> makeSecretServiceKeychain() {
    return std::make_unique<EventServingKeychain>();
}

}  // namespace velmora::desktop
