#pragma once

#include <optional>
#include <string>

#include "platform/SecretStore.h"

namespace velmora {

// The session token in the secret store: one secret. Stateless; every call goes to the store and
// logs its outcome. The token's value is never logged.
class KeychainTokenStore {
  public:
    explicit KeychainTokenStore(platform::SecretStore& store) : store_(store) {}

    bool saveToken(const std::string& token);
    std::optional<std::string> loadToken();
    bool deleteToken();

  private:
    void logError(const std::string& prefix, const platform::SecretResult& result);

    platform::SecretStore& store_;
};

}  // namespace velmora
