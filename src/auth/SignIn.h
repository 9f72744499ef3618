#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "auth/Account.h"
#include "auth/KeychainTokenStore.h"
#include "platform/Application.h"
#include "platform/MainQueue.h"
#include "settings/SettingsManager.h"
#include "ui/Notices.h"

namespace velmora {

// Browser sign-in, its velmora: URL callback and sign-out. Every change of the account is written
// to the stored flag, and the tray menu follows it.
class SignIn {
  public:
    SignIn(Account& account, KeychainTokenStore& tokenStore, SettingsManager& settings,
           Notices& notices, platform::Application& application, platform::MainQueue& mainQueue,
           std::string authURLString, std::function<void()> rebuildStatusMenu,
           std::weak_ptr<void> owner);

    void signInAction();
    void handleGetURLWithEvent(const std::optional<std::string>& url);
    void signOutAction();
    void showSignInPrompt();

  private:
    Account& account_;
    KeychainTokenStore& tokenStore_;
    SettingsManager& settings_;
    Notices& notices_;
    platform::Application& application_;
    platform::MainQueue& mainQueue_;
    const std::string authURLString_;
    std::function<void()> rebuildStatusMenu_;
    std::weak_ptr<void> owner_;
};

}  // namespace velmora
