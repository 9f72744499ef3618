#include "base/Url.h"

#include <cctype>
#include <string_view>

namespace velmora {
namespace {

bool isAllowedUrlCharacter(unsigned char c) {
    if (std::isalnum(c)) {
        return true;
    }
    constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=%";
    return allowed.find(static_cast<char>(c)) != std::string_view::npos;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool hasWellFormedEscapes(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
            return false;
        }
        i += 2;
    }
    return true;
}

bool isValidScheme(std::string_view scheme) {
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme[0]))) {
        return false;
    }
    for (char c : scheme) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> percentDecode(const std::string& text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return decoded;
}

std::optional<std::vector<QueryItem>> parseQueryItems(const std::string& query) {
    std::vector<QueryItem> items;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos) {
            end = query.size();
        }
        const std::string part = query.substr(start, end - start);
        QueryItem item;
        const std::size_t equals = part.find('=');
        auto name = percentDecode(part.substr(0, equals));
        if (!name) {
            return std::nullopt;
        }
        item.name = std::move(*name);
        if (equals != std::string::npos) {
            auto value = percentDecode(part.substr(equals + 1));
            if (!value) {
                return std::nullopt;
            }
            item.value = std::move(*value);
        }
        items.push_back(std::move(item));
        start = end + 1;
    }
    return items;
}

std::optional<Url> Url::parse(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    for (char c : text) {
        if (!isAllowedUrlCharacter(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
    }
    if (!hasWellFormedEscapes(text)) {
        return std::nullopt;
    }

    Url url;
    url.absoluteString = text;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || !isValidScheme(std::string_view(text).substr(0, colon))) {
        return std::nullopt;
    }
    url.scheme = text.substr(0, colon);
    std::string rest = text.substr(colon + 1);

    if (const std::size_t hash = rest.find('#'); hash != std::string::npos) {
        rest.resize(hash);
    }
    if (const std::size_t question = rest.find('?'); question != std::string::npos) {
        url.query = rest.substr(question + 1);
        rest.resize(question);
    }
    if (!rest.starts_with("//")) {
        url.path = rest;
        return url;
    }
    const std::size_t slash = rest.find('/', 2);
    const std::string authority = rest.substr(2, slash == std::string::npos ? slash : slash - 2);
    url.path = slash == std::string::npos ? std::string() : rest.substr(slash);
    if (!authority.empty()) {
        url.host = authority;
    }
    return url;
}

}  // namespace velmora
