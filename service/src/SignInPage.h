#pragma once

#include <map>
#include <string>

namespace velmora::service {

inline constexpr const char* kCallbackPrefix = "velmora://auth/callback?token=";

// The page asking for the operator's passphrase, optionally with an error above the form.
std::string signInPageHtml(const std::string& error = {});

// The page shown with the redirect to the application, carrying a link to the same URL for
// browsers that do not follow custom schemes by themselves.
std::string signedInPageHtml(const std::string& callbackUrl);

// The page explaining that sign-in is not set up.
std::string signInUnavailableHtml();

// Decodes an application/x-www-form-urlencoded body; the first value of a name wins.
std::map<std::string, std::string> parseFormBody(const std::string& body);

}  // namespace velmora::service
