#pragma once

#include <map>
#include <string>

namespace velmora::service {

inline constexpr const char* kCallbackPrefix = "velmora://auth/callback?token=";
// The form's hidden field that must match the sign-in cookie.
inline constexpr const char* kFormTokenField = "csrf";

// The page asking for the operator's passphrase, with `formToken` in its hidden field and
// optionally an error above the form.
std::string signInPageHtml(const std::string& formToken, const std::string& error = {});

// The page sent with the redirect to the application: the sign-in is handed to Velmora and the
// tab may be closed, with a link to the same URL for browsers that do not follow it themselves.
std::string signedInPageHtml(const std::string& callbackUrl);

// The Content-Security-Policy of these pages: nothing but their own style, no framing, forms
// only to this service and on to Velmora.
std::string signInPagePolicy();

// The page explaining that sign-in is not set up.
std::string signInUnavailableHtml();

// Decodes an application/x-www-form-urlencoded body; the first value of a name wins.
std::map<std::string, std::string> parseFormBody(const std::string& body);

}  // namespace velmora::service
