// URLs and the sign-in callback: query items survive re-encoding, and every "token" item the
// sign-in reads is redacted in the log.
#include "FuzzSupport.h"
#include "auth/Callback.h"
#include "base/Url.h"

using namespace velmora;

namespace {

void checkQueryRoundTrip(const std::vector<QueryItem>& items) {
    std::string query;
    for (const QueryItem& item : items) {
        query += (&item == &items.front() ? "" : "&") + fuzz::percentEncode(item.name) +
                 (item.value ? "=" + fuzz::percentEncode(*item.value) : "");
    }
    const auto again = parseQueryItems(query);
    FUZZ_CHECK(again && again->size() == items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        FUZZ_CHECK((*again)[i].name == items[i].name && (*again)[i].value == items[i].value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (const auto items = parseQueryItems(input)) {
        checkQueryRoundTrip(*items);
    }
    const auto url = Url::parse(input);
    if (!url) {
        return 0;
    }
    FUZZ_CHECK(url->absoluteString == input && !url->scheme.empty());
    if (isAuthCallback(*url) && callbackToken(*url)) {
        FUZZ_CHECK(!callbackToken(*url)->empty());
    }
    const auto items = url->query ? parseQueryItems(*url->query) : std::nullopt;
    if (!items) {
        return 0;
    }
    // The logged URL keeps its items in order; each one read as a token has its value replaced.
    const std::string logged = redactedForLog(url->absoluteString);
    const std::size_t question = logged.find('?');
    FUZZ_CHECK(question != std::string::npos);
    const auto loggedItems =
        fuzz::split(logged.substr(question + 1, logged.find('#', question) - question - 1), '&');
    FUZZ_CHECK(loggedItems.size() == items->size());
    for (std::size_t i = 0; i < items->size(); ++i) {
        const QueryItem& item = (*items)[i];
        if (item.name == "token" && item.value) {
            FUZZ_CHECK(loggedItems[i].ends_with("=<redacted>"));
        }
    }
    return 0;
}
