#include "auth/Account.h"

namespace velmora {

void Account::load() {
    authToken_ = tokenStore_.loadToken();
    isAuthenticated_ = authToken_.has_value();
    settings_.saveAuthenticationFlag(isAuthenticated_);
}

bool Account::signIn(const std::string& token) {
    if (!tokenStore_.saveToken(token)) {
        return false;
    }
    set(token);
    return true;
}

void Account::signOut(const std::function<void(bool tokenDeleted)>& tokenDeleted) {
    tokenDeleted(tokenStore_.deleteToken());
    set(std::nullopt);
}

void Account::set(std::optional<std::string> token) {
    isAuthenticated_ = token.has_value();
    authToken_ = std::move(token);
    settings_.saveAuthenticationFlag(isAuthenticated_);
    if (changed_) {
        changed_();
    }
}

}  // namespace velmora
