#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/Url.h"
#include "platform/Log.h"

namespace velmora {
namespace {

constexpr const char* kTokenItemName = "token";

// The query item's name as the components see it; a malformed escape leaves it as written.
std::string decodedItemName(const std::string& item) {
    const std::string rawName = item.substr(0, item.find('='));
    return percentDecode(rawName).value_or(rawName);
}

// The callback URL for the log: every "token" value is replaced so the session credential never
// reaches standard output.
std::string redactedForLog(const std::string& urlText) {
    const std::size_t hash = urlText.find('#');
    const std::string beforeFragment = urlText.substr(0, hash);
    const std::size_t question = beforeFragment.find('?');
    if (question == std::string::npos) {
        return urlText;
    }

    std::string result = beforeFragment.substr(0, question + 1);
    const std::string query = beforeFragment.substr(question + 1);
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos) {
            end = query.size();
        }
        const std::string item = query.substr(start, end - start);
        const std::size_t equals = item.find('=');
        if (equals != std::string::npos && decodedItemName(item) == kTokenItemName) {
            result += item.substr(0, equals + 1) + "<redacted>";
        } else {
            result += item;
        }
        if (end < query.size()) {
            result += '&';
        }
        start = end + 1;
    }
    if (hash != std::string::npos) {
        result += urlText.substr(hash);
    }
    return result;
}

bool isAuthCallback(const Url& url) {
    return url.scheme == "velmora" && url.host == "auth" && url.path == "/callback";
}

// The decoded value of the first "token" item. An empty value counts as no token: signing in with
// an empty credential would only fail later, at the first request.
std::optional<std::string> callbackToken(const Url& url) {
    if (!url.query) {
        return std::nullopt;
    }
    const auto items = parseQueryItems(*url.query);
    if (!items) {
        return std::nullopt;
    }
    for (const QueryItem& item : *items) {
        if (item.name == kTokenItemName) {
            if (!item.value || item.value->empty()) {
                return std::nullopt;
            }
            return item.value;
        }
    }
    return std::nullopt;
}

}  // namespace

void AppDelegate::signInAction() {
    const auto url = Url::parse(authURLString_);
    if (!url) {
        logLine("Error: Invalid authentication URL: " + authURLString_);
        showAlert("Error", "Could not initiate sign-in. The authentication URL is invalid.",
                  platform::AlertStyle::Critical);
        return;
    }
    logLine("Opening authentication URL: " + url->absoluteString);
    platform_.workspace.openURL(url->absoluteString);
}

void AppDelegate::handleGetURLWithEvent(const std::optional<std::string>& urlText) {
    const std::optional<Url> url = urlText ? Url::parse(*urlText) : std::nullopt;
    if (!url) {
        logLine("Error: Could not parse URL from AppleEvent");
        return;
    }
    logLine("Received URL: " + redactedForLog(url->absoluteString));
    if (!isAuthCallback(*url)) {
        return;
    }

    const std::optional<std::string> token = callbackToken(*url);
    if (!token) {
        logLine("Error: Authentication callback received, but no token found in URL.");
        showAlert("Sign-In Error", "Authentication was incomplete. No token received.",
                  platform::AlertStyle::Warning);
        return;
    }

    logLine("Authentication successful via URL callback. Token received.");
    if (!tokenStore_.saveToken(*token)) {
        logLine("Error: Failed to save token to Keychain.");
        showAlert("Sign-In Error", "Could not securely store your session. Please try again.",
                  platform::AlertStyle::Critical);
        return;
    }

    authToken_ = token;
    isAuthenticated_ = true;
    settingsManager_->saveAuthenticationFlag(true);

    // The menu is rebuilt in the same queued turn, ahead of the notice.
    std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    platform_.mainQueue.async([weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->rebuildStatusMenu();
            self->showAlert("Signed In", "You have successfully signed in to Velmora.",
                            platform::AlertStyle::Informational);
        }
    });
}

void AppDelegate::signOutAction() {
    logLine("Signing out...");
    if (tokenStore_.deleteToken()) {
        logLine("Token successfully deleted from Keychain.");
    } else {
        logLine("Failed to delete token from Keychain, but proceeding with sign out.");
    }
    authToken_.reset();
    isAuthenticated_ = false;
    settingsManager_->saveAuthenticationFlag(false);
    rebuildStatusMenu();
    showAlert("Signed Out", "You have been signed out.", platform::AlertStyle::Informational);
}

void AppDelegate::showSignInPrompt() {
    showAlert("Sign In Required", "Please sign in to use this feature.",
              platform::AlertStyle::Informational);
}

}  // namespace velmora
