#pragma once

#include <optional>
#include <string>

namespace velmora::service {

// A fresh session token: 256 random bits in URL-safe base64 without padding (43 characters),
// or none when the system's random source fails.
std::optional<std::string> makeSessionToken();

// Lower-case hex SHA-256 of `text`; the database keeps only this of a token.
std::string sha256Hex(const std::string& text);

// Base64 SHA-256 of `text`, as a Content-Security-Policy hash source wants it.
std::string sha256Base64(const std::string& text);

// Compares in time that depends on neither content nor length of the guess.
bool constantTimeEquals(const std::string& a, const std::string& b);

}  // namespace velmora::service
