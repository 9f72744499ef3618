#include "auth/SignIn.h"

#include "auth/Callback.h"
#include "base/Log.h"
#include "base/Url.h"

namespace velmora {

SignIn::SignIn(Account& account, Notices& notices, platform::Alerts& alerts,
               platform::Application& application, const platform::Tray& tray,
               platform::MainQueue& mainQueue, std::string authURLString)
    : account_(account),
      notices_(notices),
      alerts_(alerts),
      application_(application),
      tray_(tray),
      mainQueue_(mainQueue),
      authURLString_(std::move(authURLString)) {}

void SignIn::signInAction() {
    const auto url = Url::parse(authURLString_);
    if (!url) {
        logLine("Error: Invalid authentication URL: " + forLog(authURLString_));
        notices_.showAlert("Error",
                           "Could not initiate sign-in. The authentication URL is invalid.",
                           platform::AlertStyle::Critical);
        return;
    }
    logLine("Opening authentication URL: " + url->absoluteString);
    awaitingCallback_ = true;
    const unsigned generation = ++signInGeneration_;
    mainQueue_.asyncAfter(kCallbackWindow, scope_.bind([this, generation] {
        if (generation == signInGeneration_) {
            awaitingCallback_ = false;
        }
    }));
    // Without a browser the user still needs the address.
    application_.openURL(
        url->absoluteString,
        scope_.bind([this, address = url->absoluteString](platform::OpenResult result) {
            if (result == platform::OpenResult::NotOpened) {
                notices_.showAlert("Open the Sign-In Page",
                                   "Velmora could not open your browser. Open this address in your "
                                   "browser to sign in: " +
                                       address,
                                   platform::AlertStyle::Warning);
            }
        }));
}

void SignIn::handleGetURLWithEvent(const std::optional<std::string>& urlText) {
    const std::optional<Url> url = urlText ? Url::parse(*urlText) : std::nullopt;
    if (!url) {
        logLine("Error: Could not parse URL from AppleEvent");
        return;
    }
    logLine("Received URL: " + forLog(redactedForLog(url->absoluteString)));
    if (!isAuthCallback(*url)) {
        return;
    }

    const std::optional<std::string> token = callbackToken(*url);
    if (!token) {
        logLine("Error: Authentication callback received, but no token found in URL.");
        notices_.showAlert("Sign-In Error", "Authentication was incomplete. No token received.",
                           platform::AlertStyle::Warning);
        return;
    }

    if (!awaitingCallback_) {
        confirmSignIn(*token);
        return;
    }
    awaitingCallback_ = false;
    completeSignIn(*token);
}

void SignIn::confirmSignIn(std::string token) {
    logLine("Sign-in callback without a sign-in from the menu; asking the user.");
    platform::AlertRequest request{
        "Sign in to Velmora with the account from your browser?",
        "Your browser handed Velmora a sign-in, but no sign-in was started from " +
            tray_.menuLocation() +
            ". Sign in only if you have just signed in on the Velmora page yourself.",
        platform::AlertStyle::Warning,
        {"Sign In", "Cancel"},
        std::nullopt};
    mainQueue_.async(scope_.bind([this, request = std::move(request), token = std::move(token)] {
        if (alerts_.runModal(request).button != 0) {
            logLine("Sign-in from the browser declined.");
            return;
        }
        completeSignIn(token);
    }));
}

void SignIn::completeSignIn(const std::string& token) {
    logLine("Authentication successful via URL callback. Token received.");
    if (!account_.signIn(token)) {
        logLine("Error: Failed to save token to Keychain.");
        notices_.showAlert("Sign-In Error",
                           "Could not securely store your session. Please try again.",
                           platform::AlertStyle::Critical);
        return;
    }
    notices_.showAlert("Signed In", "You have successfully signed in to Velmora.",
                       platform::AlertStyle::Informational);
}

void SignIn::signOutAction() {
    logLine("Signing out...");
    account_.signOut([](bool tokenDeleted) {
        logLine(tokenDeleted
                    ? "Token successfully deleted from Keychain."
                    : "Failed to delete token from Keychain, but proceeding with sign out.");
    });
    notices_.showAlert("Signed Out", "You have been signed out.",
                       platform::AlertStyle::Informational);
}

void SignIn::showSignInPrompt() {
    notices_.showAlert("Sign In Required", "Please sign in to use this feature.",
                       platform::AlertStyle::Informational);
}

}  // namespace velmora
