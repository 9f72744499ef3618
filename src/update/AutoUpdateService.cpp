#include "update/AutoUpdateService.h"

#include <nlohmann/json.hpp>

#include "base/Url.h"

namespace velmora {

namespace {

using nlohmann::json;

// Accepts every value and keeps the parser's own description of the first error; used only
// once a body is known not to parse, so the message can be had without exceptions.
class ParseErrorCollector : public nlohmann::json_sax<json> {
  public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const json::exception& ex) override {
        description = ex.what();
        return false;
    }

    std::string description;
};

// The parser prefixes its messages with an identifier ("[json.exception.parse_error.101] ");
// the user reads only the sentence after it.
std::string parseErrorDescription(const std::string& body) {
    ParseErrorCollector collector;
    json::sax_parse(body, &collector);
    std::string text = collector.description;
    if (text.starts_with('[')) {
        if (const auto end = text.find("] "); end != std::string::npos) {
            text.erase(0, end + 2);
        }
    }
    return text.empty() ? std::string("The data couldn't be read.") : text;
}

}  // namespace

CheckOutcome evaluateVersionReply(const platform::HttpResult& reply,
                                  const std::string& runningVersion) {
    using Kind = CheckOutcome::Kind;
    if (const auto* error = std::get_if<platform::HttpError>(&reply)) {
        return {Kind::failed, {}, PlatformError{error->description}};
    }
    // The status code is not examined: an error page goes through the same steps.
    const std::string& body = std::get<platform::HttpReply>(reply).body;
    // Only the top level is read: nested containers are skipped as they are parsed, so a body of
    // deeply nested brackets costs no memory.
    const json document = json::parse(
        body,
        [](int depth, json::parse_event_t event, json&) {
            return depth == 0 || (event != json::parse_event_t::object_start &&
                                  event != json::parse_event_t::array_start);
        },
        false);
    if (document.is_discarded()) {
        return {Kind::failed, {}, PlatformError{parseErrorDescription(body)}};
    }
    // A document without a string "version" still answers the user, so a manual check never
    // ends in silence.
    const auto member = document.is_object() ? document.find("version") : document.end();
    if (member == document.end() || !member->is_string()) {
        return {Kind::failed, {}, AutoUpdateError::invalidResponse};
    }
    const std::string newest = member->get<std::string>();
    if (compareVersionsNumerically(newest, runningVersion) > 0) {
        return {Kind::available, newest};
    }
    return {Kind::current, runningVersion};
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Compares two runs of decimal digits by value, however long they are.
int compareDigitRuns(std::string_view a, std::string_view b) {
    const auto significant = [](std::string_view run) {
        const auto first = run.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view() : run.substr(first);
    };
    const std::string_view x = significant(a);
    const std::string_view y = significant(b);
    if (x.size() != y.size()) {
        return x.size() < y.size() ? -1 : 1;
    }
    const int order = x.compare(y);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

std::string describe(AutoUpdateError error) {
    switch (error) {
        case AutoUpdateError::versionNotFound:
            return "Could not determine current app version";
        case AutoUpdateError::invalidResponse:
            return "Invalid response from update server";
        case AutoUpdateError::invalidURL:
            return "Invalid update URL";
    }
    return {};
}

std::string describe(const UpdateCheckError& error) {
    if (const auto* own = std::get_if<AutoUpdateError>(&error)) {
        return describe(*own);
    }
    return std::get<PlatformError>(error).description;
}

// Digit runs that differ only in leading zeros compare equal ("1.01" and "1.1" are the same
// version); the walk then goes on after both runs.
int compareVersionsNumerically(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::size_t runA = i;
            const std::size_t runB = j;
            while (i < a.size() && isDigit(a[i])) {
                ++i;
            }
            while (j < b.size() && isDigit(b[j])) {
                ++j;
            }
            const int order = compareDigitRuns(std::string_view(a).substr(runA, i - runA),
                                               std::string_view(b).substr(runB, j - runB));
            if (order != 0) {
                return order;
            }
            continue;
        }
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[j]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return 0;
}

AutoUpdateService::AutoUpdateService(platform::HttpSession& session, platform::MainQueue& mainQueue,
                                     platform::Application& application,
                                     AutoUpdateServiceDelegate& delegate, std::string updateURL,
                                     std::string versionCheckURL)
    : session_(session),
      mainQueue_(mainQueue),
      application_(application),
      delegate_(delegate),
      updateURL_(std::move(updateURL)),
      versionCheckURL_(std::move(versionCheckURL)) {}

void AutoUpdateService::checkForUpdates() {
    const std::optional<std::string> runningVersion = application_.version();
    if (!runningVersion) {
        delegate_.updateCheckFailed(AutoUpdateError::versionNotFound);
        return;
    }

    platform::HttpRequest request;
    request.method = "GET";
    request.url = versionCheckURL_;
    request.timeoutSeconds = 60.0;
    // A download host that moved its files answers with a redirect; a chat request follows none.
    request.maxRedirects = 5;

    auto report = scope_.bind([this](const CheckOutcome& outcome) {
        switch (outcome.kind) {
            case CheckOutcome::Kind::available:
                delegate_.updateAvailable(outcome.version);
                break;
            case CheckOutcome::Kind::current:
                delegate_.noUpdateAvailable(outcome.version);
                break;
            case CheckOutcome::Kind::failed:
                delegate_.updateCheckFailed(outcome.error);
                break;
        }
    });
    // Runs on the session's thread: it only evaluates the reply and posts the outcome; whether
    // the service still exists is asked on the main queue, where it could have ended.
    session_.startDataTask(
        std::move(request), [&queue = mainQueue_, report = std::move(report),
                             runningVersion = *runningVersion](const platform::HttpResult& reply) {
            queue.async([report, outcome = evaluateVersionReply(reply, runningVersion)]() mutable {
                report(outcome);
            });
        });
}

void AutoUpdateService::downloadUpdate() {
    if (const auto url = Url::parse(updateURL_)) {
        application_.openURL(url->absoluteString);
        return;
    }
    delegate_.updateCheckFailed(AutoUpdateError::invalidURL);
}

}  // namespace velmora
