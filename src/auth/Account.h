#pragma once

#include <optional>
#include <string>

namespace velmora {

// The sign-in state in memory. Signed in means both: the flag is set and a token (even an empty
// one) is held.
struct Account {
    bool isAuthenticated = false;
    std::optional<std::string> authToken;

    bool isSignedIn() const { return isAuthenticated && authToken.has_value(); }
};

}  // namespace velmora
