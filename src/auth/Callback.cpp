#include "auth/Callback.h"

namespace velmora {
namespace {

constexpr const char* kTokenItemName = "token";

// The query item's name as the components see it; a malformed escape leaves it as written.
std::string decodedItemName(const std::string& item) {
    const std::string rawName = item.substr(0, item.find('='));
    return percentDecode(rawName).value_or(rawName);
}

}  // namespace

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

}  // namespace velmora
