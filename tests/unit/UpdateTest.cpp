#include <gtest/gtest.h>

#include "support/AppHarness.h"
#include "update/AutoUpdateService.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

using Texts = std::vector<std::string>;

TEST(VersionComparison, DigitRunsByValueOtherCharactersByCode) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"1.10", "1.9", 1},
        {"10.0", "2.0", 1},
        {"1.2.0", "1.2", 1},
        {"1.2", "1.2", 0},
        {"1.1", "1.2", -1},
        {"1.01", "1.1", 0},
        {"1.2a", "1.2b", -1},
        {"1.a", "1.1", 1},
        {"1.B", "1.a", -1},
        {"", "0", -1},
        {"1.99999999999999999999999", "1.99999999999999999999998", 1},
    };
    for (const auto& [a, b, expected] : cases) {
        const auto sign = [](int v) { return (v > 0) - (v < 0); };
        EXPECT_EQ(sign(compareVersionsNumerically(a, b)), expected) << a << " vs " << b;
        EXPECT_EQ(sign(compareVersionsNumerically(b, a)), -expected) << b << " vs " << a;
    }
}

// The notices of one manual check answered with `body`, as "title | message".
Texts check(const std::string& running, std::string body, int status = 200,
            std::deque<platform::AlertResponse> answers = {}, Texts* opened = nullptr) {
    testing::AppHarness h;
    h.test.application.runningVersion = running;
    h.test.alerts.answers = std::move(answers);
    h.launch();
    h.choose("Check for Updates...");
    h.test.http.respond(0, status, std::move(body));
    h.run();
    if (opened) {
        *opened = h.test.application.opened;
    }
    Texts result;
    for (const auto& shown : h.test.alerts.shown) {
        result.push_back(shown.request.title + " | " + shown.request.message);
        if (shown.request.title == "Update Available") {
            EXPECT_EQ(shown.request.buttons, (Texts{"Download in Browser", "Later"}));
        }
    }
    return result;
}

TEST(UpdateCheck, ANewerVersionIsOfferedAndDownloadOpensTheInstaller) {
    Texts opened;
    EXPECT_EQ(check("1.9", R"({"version": "1.10", "notes": "ignored"})", 200, {}, &opened),
              Texts{"Update Available | A new version (1.10) of Velmora is available. Would you "
                    "like to download it now?\n\nThis will open your browser to download the "
                    "latest version."});
    EXPECT_EQ(opened, Texts{"https://download.test/latest/Velmora.dmg"});
    EXPECT_EQ(check("1.2", R"({"version": "1.2.0"})", 200, {{1, {}}}, &opened).size(), 1u);
    EXPECT_TRUE(opened.empty()) << "Later opens nothing";

    const Texts current = {
        "No Updates Available | You're already running the latest version (1.2) of Velmora."};
    EXPECT_EQ(check("1.2", R"({"version": "1.2"})"), current);
    EXPECT_EQ(check("1.2", R"({"version": "1.1"})"), current);
}

TEST(UpdateCheck, BadRepliesAnswerWithUpdateFailed) {
    const auto page = check("1.2", "<html>Not Found</html>", 404);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_TRUE(page[0].starts_with("Update Failed | Failed to check for updates: parse error"))
        << page[0];
    const Texts invalid = {
        "Update Failed | Failed to check for updates: Invalid response from update server"};
    for (const char* document : {R"({"version": 2})", "{}", "[]"}) {
        EXPECT_EQ(check("1.2", document), invalid) << document;
    }
}

TEST(UpdateCheck, ChecksRunAlongsideAndEachReports) {
    testing::AppHarness h;
    h.test.application.runningVersion.reset();
    h.launch();
    h.choose("Check for Updates...");  // no running version: fails at once
    h.test.application.runningVersion = "1.2";
    h.run(2s);
    h.choose("Check for Updates...");
    ASSERT_EQ(h.test.http.requests.size(), 2u);
    const auto& request = h.test.http.requests[0]->request;
    EXPECT_EQ(request.method + " " + request.url, "GET https://download.test/latest/version.json");
    EXPECT_EQ(request.timeoutSeconds, 60.0);
    EXPECT_TRUE(request.headers.empty());
    EXPECT_EQ(request.maxRedirects, 5);
    h.test.http.fail(0, "The Internet connection appears to be offline.");
    h.test.http.respond(1, 200, std::string(R"({"version": "1.2"})"));
    h.run();
    EXPECT_EQ(h.test.alerts.titles(),
              (Texts{"Update Failed", "Update Failed", "No Updates Available"}));
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Failed to check for updates: Could not determine current app version");
    EXPECT_EQ(h.test.alerts.shown[1].request.style, platform::AlertStyle::Critical);
}

TEST(UpdateCheck, ABadInstallerAddressIsReported) {
    testing::TestPlatform t;
    struct Delegate : AutoUpdateServiceDelegate {
        void updateAvailable(const std::string&) override {}
        void noUpdateAvailable(const std::string&) override {}
        void updateCheckFailed(const UpdateCheckError& e) override {
            failures.push_back(describe(e));
        }
        Texts failures;
    } delegate;
    auto service = std::make_unique<AutoUpdateService>(t.http, t.queue, t.application, delegate,
                                                       "not a url", "https://d/v");
    service->downloadUpdate();
    EXPECT_EQ(delegate.failures, Texts{"Invalid update URL"});

    service->checkForUpdates();
    service.reset();
    t.http.respond(0, 200, std::string(R"({"version": "9"})"));
    t.queue.runUntilIdle();
    EXPECT_EQ(delegate.failures.size(), 1u)
        << "nothing reaches the delegate once the service is gone";
}

}  // namespace
}  // namespace velmora
