#pragma once

#include <optional>
#include <string>

#include "platform/Keychain.h"

namespace velmora {

// The session token in the secret store: one generic-password item. Stateless; every call goes to
// the store and logs its outcome. The token's value is never logged.
class KeychainTokenStore {
  public:
    explicit KeychainTokenStore(platform::Keychain& keychain);

    static platform::KeychainIdentity identity();

    bool saveToken(const std::string& token);
    std::optional<std::string> loadToken();
    bool deleteToken();

  private:
    void logError(const std::string& prefix, platform::OSStatus status);

    platform::Keychain& keychain_;
};

}  // namespace velmora
