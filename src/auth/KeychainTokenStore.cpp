#include "auth/KeychainTokenStore.h"

#include "base/Log.h"
#include "base/UnicodeText.h"

namespace velmora {
namespace {

using platform::SecretStatus;

const platform::SecretKey kTokenKey{"com.mendwell.authtoken", "sessionToken"};

// The log lines carry the first release's keychain status numbers, which support scripts and
// users' reports already know; this is the one place that produces them.
int statusNumber(SecretStatus status) {
    switch (status) {
        case SecretStatus::Ok:
            return 0;
        case SecretStatus::NotFound:
            return -25300;
        case SecretStatus::Refused:
            return -25293;
        case SecretStatus::Unavailable:
            return -25308;
    }
    return -25308;
}

}  // namespace

void KeychainTokenStore::logError(const std::string& prefix, const platform::SecretResult& result) {
    const std::string message = result.message.empty() ? "Unknown error" : result.message;
    logLine(prefix + std::to_string(statusNumber(result.status)) + ". " + message);
}

bool KeychainTokenStore::saveToken(const std::string& token) {
    if (!isValidUtf8(token)) {
        logLine("Keychain: Failed to convert token to data.");
        return false;
    }
    const platform::SecretResult replaced = store_.replace(kTokenKey, token);
    if (replaced.status == SecretStatus::Ok) {
        logLine("Keychain: Token updated successfully.");
        return true;
    }
    if (replaced.status == SecretStatus::NotFound) {
        logLine("Keychain: Token not found, attempting to add new one.");
        const platform::SecretResult added = store_.add(kTokenKey, token);
        if (added.status == SecretStatus::Ok) {
            logLine("Keychain: Token added successfully.");
            return true;
        }
        logError("Keychain: Error adding new token - ", added);
        return false;
    }
    logError("Keychain: Error updating token - ", replaced);
    if (replaced.status == SecretStatus::Refused) {
        logLine("Keychain: Update failed due to an authorization/ownership issue.");
    }
    return false;
}

std::optional<std::string> KeychainTokenStore::loadToken() {
    platform::SecretLookup result = store_.lookup(kTokenKey);
    if (result.status == SecretStatus::NotFound) {
        logLine("Keychain: Token not found.");
        return std::nullopt;
    }
    if (result.status != SecretStatus::Ok) {
        logError("Keychain: Error loading token - ", result);
        return std::nullopt;
    }
    if (!isValidUtf8(result.value)) {
        logLine("Keychain: Failed to convert loaded data to token string.");
        return std::nullopt;
    }
    logLine("Keychain: Token loaded successfully.");
    return std::move(result.value);
}

bool KeychainTokenStore::deleteToken() {
    const platform::SecretResult result = store_.remove(kTokenKey);
    if (result.status == SecretStatus::Ok || result.status == SecretStatus::NotFound) {
        logLine("Keychain: Token deleted successfully (or was not found).");
        return true;
    }
    logError("Keychain: Error deleting token - ", result);
    if (result.status == SecretStatus::Refused) {
        logLine("Keychain: Delete failed due to an authorization/ownership issue.");
    }
    return false;
}

}  // namespace velmora
