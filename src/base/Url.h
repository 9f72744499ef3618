#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// An absolute URL split into its components (RFC 3986). Parsing fails on text that is not an
// absolute URL or holds characters a URL may not contain (spaces, controls).
struct Url {
    std::string scheme;
    std::optional<std::string> host;   // the authority as written (a port or user included)
    std::string path;                  // as written (still percent-encoded)
    std::optional<std::string> query;  // without the "?"
    std::string absoluteString;        // the text parsed

    static std::optional<Url> parse(const std::string& text);
};

// A query item: the name and the value, both percent-decoded; `value` is none when the item has no
// "=".
struct QueryItem {
    std::string name;
    std::optional<std::string> value;
};

// Splits "a=1&b&c=%20" into items in order; "+" is kept as is. Returns none when a
// percent-escape is malformed.
std::optional<std::vector<QueryItem>> parseQueryItems(const std::string& query);

// Decodes %XX escapes; none when an escape is malformed.
std::optional<std::string> percentDecode(const std::string& text);

}  // namespace velmora
