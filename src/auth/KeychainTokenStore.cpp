#include "auth/KeychainTokenStore.h"

#include "app/UnicodeText.h"
#include "platform/Log.h"

namespace velmora {

using platform::errSecAuthFailed;
using platform::errSecItemNotFound;
using platform::errSecSuccess;

KeychainTokenStore::KeychainTokenStore(platform::Keychain& keychain) : keychain_(keychain) {}

platform::KeychainIdentity KeychainTokenStore::identity() {
    return {"com.mendwell.authtoken", "sessionToken"};
}

void KeychainTokenStore::logError(const std::string& prefix, platform::OSStatus status) {
    const std::optional<std::string> message = keychain_.errorMessage(status);
    logLine(prefix + std::to_string(status) + ". " + message.value_or("Unknown error"));
}

bool KeychainTokenStore::saveToken(const std::string& token) {
    if (!isValidUtf8(token)) {
        logLine("Keychain: Failed to convert token to data.");
        return false;
    }
    const platform::Keychain::Bytes value(token.begin(), token.end());

    const platform::OSStatus updateStatus = keychain_.update(identity(), value);
    if (updateStatus == errSecSuccess) {
        logLine("Keychain: Token updated successfully.");
        return true;
    }
    if (updateStatus == errSecItemNotFound) {
        logLine("Keychain: Token not found, attempting to add new one.");
        const platform::OSStatus addStatus =
            keychain_.add(identity(), value, platform::KeychainAccessibility::WhenUnlocked);
        if (addStatus == errSecSuccess) {
            logLine("Keychain: Token added successfully.");
            return true;
        }
        logError("Keychain: Error adding new token - ", addStatus);
        return false;
    }
    logError("Keychain: Error updating token - ", updateStatus);
    if (updateStatus == errSecAuthFailed) {
        logLine("Keychain: Update failed due to an authorization/ownership issue.");
    }
    return false;
}

std::optional<std::string> KeychainTokenStore::loadToken() {
    std::optional<platform::Keychain::Bytes> result;
    const platform::OSStatus status = keychain_.copyMatching(identity(), result);
    if (status == errSecItemNotFound) {
        logLine("Keychain: Token not found.");
        return std::nullopt;
    }
    if (status != errSecSuccess) {
        logError("Keychain: Error loading token - ", status);
        return std::nullopt;
    }
    if (result) {
        std::string token(result->begin(), result->end());
        if (isValidUtf8(token)) {
            logLine("Keychain: Token loaded successfully.");
            return token;
        }
    }
    logLine("Keychain: Failed to convert loaded data to token string.");
    return std::nullopt;
}

bool KeychainTokenStore::deleteToken() {
    const platform::OSStatus status = keychain_.remove(identity());
    if (status == errSecSuccess || status == errSecItemNotFound) {
        logLine("Keychain: Token deleted successfully (or was not found).");
        return true;
    }
    logError("Keychain: Error deleting token - ", status);
    if (status == errSecAuthFailed) {
        logLine("Keychain: Delete failed due to an authorization/ownership issue.");
    }
    return false;
}

}  // namespace velmora
