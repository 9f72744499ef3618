#pragma once

#include "platform/SecretStore.h"

namespace velmora::desktop {

// The secret store on the Secret Service (libsecret). Items carry the attributes "service" and
// "account", so `secret-tool lookup service S account A` finds them too. The calls wait on
// another process, and on the keyring's unlock prompt when it is locked: meanwhile the main
// thread keeps serving the clipboard Velmora may own, so other programs' pastes never hang on it.
class SecretServiceStore : public platform::SecretStore {
  public:
    platform::SecretResult replace(const platform::SecretKey& key,
                                   const std::string& value) override;
    platform::SecretResult add(const platform::SecretKey& key, const std::string& value) override;
    platform::SecretLookup lookup(const platform::SecretKey& key) override;
    platform::SecretResult remove(const platform::SecretKey& key) override;
};

}  // namespace velmora::desktop
