#pragma once

#include <functional>
#include <optional>
#include <string>

#include "auth/KeychainTokenStore.h"
#include "settings/SettingsManager.h"

namespace velmora {

// The sign-in state, the one place it changes: the token in memory and in the secret store, and
// the stored flag. Signed in means both: the flag is set and a token (even an empty one) is held.
// Whoever shows the state (the tray menu) listens for changes.
class Account {
  public:
    Account(KeychainTokenStore& tokenStore, SettingsManager& settings)
        : tokenStore_(tokenStore), settings_(settings) {}

    // At launch: signed in exactly when the secret store holds a token, whatever the stored flag
    // said.
    void load();
    // Keeps the token and signs in; false, with nothing changed, when the store refused it.
    bool signIn(const std::string& token);
    // Signs out here whatever the store does; `tokenDeleted` hears whether the store let the
    // token go, before the change is written and announced.
    void signOut(const std::function<void(bool tokenDeleted)>& tokenDeleted);

    bool isAuthenticated() const { return isAuthenticated_; }
    const std::optional<std::string>& authToken() const { return authToken_; }
    bool isSignedIn() const { return isAuthenticated_ && authToken_.has_value(); }

    // Runs after every sign-in and sign-out.
    void setChangeHandler(std::function<void()> changed) { changed_ = std::move(changed); }

  private:
    void set(std::optional<std::string> token);

    KeychainTokenStore& tokenStore_;
    SettingsManager& settings_;
    bool isAuthenticated_ = false;
    std::optional<std::string> authToken_;
    std::function<void()> changed_;
};

}  // namespace velmora
