#pragma once

#include <optional>
#include <string>

#include "base/Url.h"

namespace velmora {

// The sign-in callback, velmora://auth/callback?token=...

bool isAuthCallback(const Url& url);

// The decoded value of the first "token" item. An empty value counts as no token: signing in with
// an empty credential would only fail later, at the first request.
std::optional<std::string> callbackToken(const Url& url);

// The URL for the log: every "token" value is replaced, so the session credential never reaches
// standard output.
std::string redactedForLog(const std::string& urlText);

}  // namespace velmora
