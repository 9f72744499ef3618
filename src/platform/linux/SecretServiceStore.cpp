#include "platform/linux/SecretServiceStore.h"

#include <libsecret/secret.h>

#include "platform/linux/ServeEventsWhile.h"

namespace velmora::desktop {
namespace {

using platform::SecretKey;
using platform::SecretResult;
using platform::SecretStatus;

// Matched by attributes only, so other tools (secret-tool) find the item by service and account.
const SecretSchema kSchema = {
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

class Attributes {
  public:
    explicit Attributes(const SecretKey& key) : table_(g_hash_table_new(g_str_hash, g_str_equal)) {
        g_hash_table_insert(table_, const_cast<char*>("service"),
                            const_cast<char*>(key.service.c_str()));
        g_hash_table_insert(table_, const_cast<char*>("account"),
                            const_cast<char*>(key.account.c_str()));
    }
    ~Attributes() { g_hash_table_unref(table_); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;

    GHashTable* get() const { return table_; }

  private:
    GHashTable* table_;
};

// The library's error as a result; frees the error.
SecretResult failure(GError* error) {
    if (error == nullptr) {
        return {SecretStatus::Unavailable, "The Secret Service could not be reached."};
    }
    const bool refused = g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED) ||
                         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED) ||
                         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    SecretResult result{refused ? SecretStatus::Refused : SecretStatus::Unavailable,
                        error->message};
    g_error_free(error);
    return result;
}

SecretResult store(const SecretKey& key, const std::string& value) {
    GError* error = nullptr;
    const Attributes attributes(key);
    SecretValue* secret =
        secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain");
    const gboolean stored =
        secret_password_storev_binary_sync(&kSchema, attributes.get(), SECRET_COLLECTION_DEFAULT,
                                           key.service.c_str(), secret, nullptr, &error);
    secret_value_unref(secret);
    return stored ? SecretResult{} : failure(error);
}

// Every item with the key, in every collection, locked ones unlocked if the user allows (a locked
// collection must not pass for a missing item). Newest first: copies left by older versions or
// other tools are read and replaced after the one written last.
struct Items {
    GList* list = nullptr;
    ~Items() { g_list_free_full(list, g_object_unref); }
};

SecretResult search(const SecretKey& key, Items& items) {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (service == nullptr) {
        return failure(error);
    }
    const Attributes attributes(key);
    const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                                      SECRET_SEARCH_LOAD_SECRETS);
    items.list =
        secret_service_search_sync(service, &kSchema, attributes.get(), flags, nullptr, &error);
    g_object_unref(service);
    if (error != nullptr) {
        return failure(error);
    }
    items.list = g_list_sort(items.list, [](gconstpointer a, gconstpointer b) {
        const guint64 left = secret_item_get_modified(SECRET_ITEM(const_cast<gpointer>(a)));
        const guint64 right = secret_item_get_modified(SECRET_ITEM(const_cast<gpointer>(b)));
        return left > right ? -1 : left < right ? 1 : 0;
    });
    if (items.list == nullptr) {
        return {SecretStatus::NotFound, {}};
    }
    if (secret_item_get_locked(SECRET_ITEM(items.list->data))) {
        // Still locked after the unlock request: refused, or nobody could answer the prompt.
        return {SecretStatus::Refused, "The keyring holding the item is locked."};
    }
    return {};
}

SecretResult find(const SecretKey& key, std::string& value) {
    Items items;
    const SecretResult found = search(key, items);
    if (found.status != SecretStatus::Ok) {
        return found;
    }
    SecretValue* secret = secret_item_get_secret(SECRET_ITEM(items.list->data));
    if (secret == nullptr) {
        return {SecretStatus::Refused, "The keyring did not give the item's secret."};
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(secret, &length);
    value.assign(bytes, length);
    secret_value_unref(secret);
    return {};
}

// Writes the new value into the item where it is, whichever collection holds it, and removes any
// other copy, so a later read cannot find an older token.
SecretResult update(const SecretKey& key, const std::string& value) {
    Items items;
    const SecretResult found = search(key, items);
    if (found.status != SecretStatus::Ok) {
        return found;
    }
    GError* error = nullptr;
    SecretValue* secret =
        secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain");
    const gboolean stored =
        secret_item_set_secret_sync(SECRET_ITEM(items.list->data), secret, nullptr, &error);
    secret_value_unref(secret);
    if (!stored) {
        return failure(error);
    }
    for (GList* other = items.list->next; other != nullptr; other = other->next) {
        secret_item_delete_sync(SECRET_ITEM(other->data), nullptr, nullptr);
    }
    return {};
}

SecretResult clear(const SecretKey& key) {
    GError* error = nullptr;
    const Attributes attributes(key);
    const gboolean removed =
        secret_password_clearv_sync(&kSchema, attributes.get(), nullptr, &error);
    if (error != nullptr) {
        return failure(error);
    }
    return removed ? SecretResult{} : SecretResult{SecretStatus::NotFound, {}};
}

template <typename Call>
SecretResult serving(const Call& call) {
    SecretResult result;
    runServingEvents([&] { result = call(); });
    return result;
}

}  // namespace

SecretResult SecretServiceStore::replace(const SecretKey& key, const std::string& value) {
    return serving([&] { return update(key, value); });
}

SecretResult SecretServiceStore::add(const SecretKey& key, const std::string& value) {
    return serving([&] { return store(key, value); });
}

platform::SecretLookup SecretServiceStore::lookup(const SecretKey& key) {
    platform::SecretLookup found;
    static_cast<SecretResult&>(found) = serving([&] { return find(key, found.value); });
    return found;
}

SecretResult SecretServiceStore::remove(const SecretKey& key) {
    return serving([&] { return clear(key); });
}

}  // namespace velmora::desktop
