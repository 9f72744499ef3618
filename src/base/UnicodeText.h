#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// Text handling shared by every part that counts, trims or capitalises user text. All strings are
// UTF-8; invalid sequences count as one character each and are never dropped.

// User-perceived characters (extended grapheme clusters).
std::size_t characterCount(std::string_view text);

// Removes Unicode white space and newline characters from both ends.
std::string trimWhitespaceAndNewlines(std::string_view text);
// The same in the text's own memory, for a text too large to copy lightly.
void trimWhitespaceAndNewlinesInPlace(std::string& text);

// Full Unicode upper-casing, locale-independent ("ß" becomes "SS").
std::string uppercased(std::string_view text);

// Whether the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

}  // namespace velmora
