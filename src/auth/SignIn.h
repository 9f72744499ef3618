#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "auth/Account.h"
#include "base/WeakScope.h"
#include "platform/Alerts.h"
#include "platform/Application.h"
#include "platform/MainQueue.h"
#include "platform/StatusItem.h"
#include "ui/Notices.h"

namespace velmora {

// Browser sign-in, its velmora: URL callback and sign-out, on the account.
//
// Any web page can make the browser open a velmora: URL, so a callback is taken at once only
// within ten minutes of a sign-in started from the menu; any other callback asks the user first,
// lest a page sign them in to an account of its choosing.
class SignIn {
  public:
    SignIn(Account& account, Notices& notices, platform::Alerts& alerts,
           platform::Application& application, const platform::Tray& tray,
           platform::MainQueue& mainQueue, std::string authURLString);

    void signInAction();
    void handleGetURLWithEvent(const std::optional<std::string>& url);
    void signOutAction();
    void showSignInPrompt();

    static constexpr std::chrono::minutes kCallbackWindow{10};

  private:
    void confirmSignIn(std::string token);
    void completeSignIn(const std::string& token);

    Account& account_;
    Notices& notices_;
    platform::Alerts& alerts_;
    platform::Application& application_;
    const platform::Tray& tray_;
    platform::MainQueue& mainQueue_;
    const std::string authURLString_;
    // Set by a menu sign-in, cleared by the callback it leads to or ten minutes on; the generation
    // lets only the latest sign-in's timeout close it.
    bool awaitingCallback_ = false;
    unsigned signInGeneration_ = 0;
    WeakScope scope_;
};

}  // namespace velmora
