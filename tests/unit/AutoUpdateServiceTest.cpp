#include <gtest/gtest.h>

#include <thread>

#include "support/AppHarness.h"
#include "update/AutoUpdateService.h"

namespace velmora {
namespace {

using testing::AppHarness;

int sign(int value) {
    return (value > 0) - (value < 0);
}

TEST(VersionComparison, DigitRunsByValueOtherCharactersByCode) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},
        {"10.0", "2.0", 1},
        {"1.2.0", "1.2", 1},
        {"1.2", "1.2", 0},
        {"1.1", "1.2", -1},
        {"1.01", "1.1", 0},  // equal values with leading zeros are the same version
        {"1.2.007", "1.2.7", 0},
        {"1.2a", "1.2b", -1},
        {"1.2", "1.2a", -1},
        {"1.a", "1.1", 1},   // 'a' orders after '1' by character code
        {"1.B", "1.a", -1},  // case-sensitive
        {"2.0-beta", "2.0", 1},
        {"1.99999999999999999999999", "1.99999999999999999999998", 1},  // no overflow
        {"", "", 0},
        {"", "0", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(compareVersionsNumerically(c.a, c.b)), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(compareVersionsNumerically(c.b, c.a)), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(UpdateErrors, DescribeOwnCasesAndPassPlatformTextThrough) {
    EXPECT_EQ(describe(AutoUpdateError::versionNotFound),
              "Could not determine current app version");
    EXPECT_EQ(describe(AutoUpdateError::invalidResponse), "Invalid response from update server");
    EXPECT_EQ(describe(AutoUpdateError::invalidURL), "Invalid update URL");
    EXPECT_EQ(describe(UpdateCheckError{PlatformError{"The request timed out."}}),
              "The request timed out.");
}

// Checks through the application delegate, as the menu and the launch timer do.
class UpdateCheckTest : public ::testing::Test {
  protected:
    // Runs a manual check answered with `body` and returns the alerts it raised.
    std::vector<testing::TestAlerts::Shown> check(const std::string& running,
                                                  std::optional<std::string> body,
                                                  int status = 200) {
        harness.test.bundle.version = running;
        harness.launch();
        harness.delegate().checkForUpdatesAction();
        harness.test.http.respond(harness.test.http.requests.size() - 1, status, std::move(body));
        harness.test.queue.runUntilIdle();
        return harness.test.alerts.shown;
    }

    AppHarness harness;
};

TEST_F(UpdateCheckTest, RequestsTheVersionDocumentWithAPlainGet) {
    harness.launch();
    harness.delegate().checkForUpdatesAction();
    ASSERT_EQ(harness.test.http.requests.size(), 1u);
    const auto& request = harness.test.http.last().request;
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.url, "https://download.test/latest/version.json");
    EXPECT_EQ(request.timeoutSeconds, 60.0);
    EXPECT_TRUE(request.headers.empty());
    EXPECT_FALSE(request.body.has_value());
    EXPECT_TRUE(harness.test.alerts.shown.empty()) << "the check must not block on its answer";
}

TEST_F(UpdateCheckTest, NewerVersionIsOfferedAndDownloadOpensTheInstaller) {
    const auto shown = check("1.9", R"({"version": "1.10", "notes": "ignored"})");
    ASSERT_EQ(shown.size(), 1u);
    const auto& offer = shown[0].request;
    EXPECT_EQ(offer.messageText, "Update Available");
    EXPECT_EQ(offer.informativeText,
              "A new version (1.10) of Velmora is available. Would you like to download it "
              "now?\n\nThis will open your browser to download the latest version.");
    EXPECT_EQ(offer.style, platform::AlertStyle::Informational);
    EXPECT_EQ(offer.buttons, (std::vector<std::string>{"Download in Browser", "Later"}));
    EXPECT_EQ(harness.test.workspace.opened,
              std::vector<std::string>{"https://download.test/latest/Velmora.dmg"});
}

TEST_F(UpdateCheckTest, LaterDoesNothingAndALongerVersionIsNewer) {
    harness.test.alerts.script.push_back({platform::alertSecondButtonReturn, std::nullopt});
    const auto shown = check("1.2", R"({"version": "1.2.0"})");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.messageText, "Update Available");
    EXPECT_TRUE(harness.test.workspace.opened.empty());
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.alerts.shown.size(), 1u);
}

TEST_F(UpdateCheckTest, SameOrOlderVersionNamesTheRunningVersion) {
    for (const char* document : {R"({"version": "1.2"})", R"({"version": "1.1"})"}) {
        AppHarness fresh;
        fresh.test.bundle.version = "1.2";
        fresh.launch();
        fresh.delegate().checkForUpdatesAction();
        fresh.test.http.respond(0, 200, std::string(document));
        fresh.test.queue.runUntilIdle();
        ASSERT_EQ(fresh.test.alerts.shown.size(), 1u) << document;
        const auto& notice = fresh.test.alerts.shown[0].request;
        EXPECT_EQ(notice.messageText, "No Updates Available");
        EXPECT_EQ(notice.informativeText,
                  "You're already running the latest version (1.2) of Velmora.");
        EXPECT_EQ(notice.style, platform::AlertStyle::Informational);
        EXPECT_EQ(notice.buttons, std::vector<std::string>{"OK"});
    }
}

TEST_F(UpdateCheckTest, ErrorPageReportsTheParserDescription) {
    const auto shown = check("1.2", "<html><body>Not Found</body></html>", 404);
    ASSERT_EQ(shown.size(), 1u);
    const auto& notice = shown[0].request;
    EXPECT_EQ(notice.messageText, "Update Failed");
    EXPECT_EQ(notice.style, platform::AlertStyle::Critical);
    const std::string prefix = "Failed to check for updates: ";
    ASSERT_TRUE(notice.informativeText.starts_with(prefix)) << notice.informativeText;
    const std::string description = notice.informativeText.substr(prefix.size());
    EXPECT_NE(description.find("syntax error"), std::string::npos) << description;
    EXPECT_FALSE(description.starts_with("[json.exception")) << description;
}

TEST_F(UpdateCheckTest, DocumentsWithoutAStringVersionAreInvalidResponses) {
    const char* documents[] = {R"({"version": 2})", R"({})", R"([])", R"("1.2")",
                               R"({"Version": "9.0"})"};
    for (const char* document : documents) {
        AppHarness fresh;
        fresh.launch();
        fresh.delegate().checkForUpdatesAction();
        fresh.test.http.respond(0, 200, std::string(document));
        fresh.test.queue.runUntilIdle();
        ASSERT_EQ(fresh.test.alerts.shown.size(), 1u) << document;
        EXPECT_EQ(fresh.test.alerts.shown[0].request.messageText, "Update Failed");
        EXPECT_EQ(fresh.test.alerts.shown[0].request.informativeText,
                  "Failed to check for updates: Invalid response from update server");
    }
}

TEST_F(UpdateCheckTest, MissingBodyOrRunningVersion) {
    harness.launch();
    harness.delegate().checkForUpdatesAction();
    harness.test.http.complete(0, std::nullopt, platform::HttpResponse{true, 204}, std::nullopt);
    harness.test.queue.runUntilIdle();
    harness.test.bundle.version.reset();
    harness.delegate().checkForUpdatesAction();
    EXPECT_EQ(harness.test.http.requests.size(), 1u);
    harness.test.queue.runUntilIdle();
    ASSERT_EQ(harness.test.alerts.shown.size(), 2u);
    EXPECT_EQ(harness.test.alerts.shown[0].request.informativeText,
              "Failed to check for updates: Invalid response from update server");
    EXPECT_EQ(harness.test.alerts.shown[1].request.informativeText,
              "Failed to check for updates: Could not determine current app version");
}

TEST_F(UpdateCheckTest, AutomaticCheckTwoSecondsAfterLaunchReportsNoNetwork) {
    harness.launch();
    harness.test.queue.advance(1.9);
    EXPECT_TRUE(harness.test.http.requests.empty());
    harness.test.queue.advance(0.1);
    ASSERT_EQ(harness.test.http.requests.size(), 1u);
    harness.test.http.fail(0, -1009, "The Internet connection appears to be offline.");
    harness.test.queue.runUntilIdle();
    ASSERT_EQ(harness.test.alerts.shown.size(), 1u);
    EXPECT_EQ(harness.test.alerts.shown[0].request.messageText, "Update Failed");
    EXPECT_EQ(harness.test.alerts.shown[0].request.informativeText,
              "Failed to check for updates: The Internet connection appears to be offline.");
    EXPECT_EQ(harness.test.alerts.shown[0].request.style, platform::AlertStyle::Critical);

    harness.test.queue.advance(60);
    EXPECT_EQ(harness.test.http.requests.size(), 1u) << "the automatic check runs once";
}

TEST_F(UpdateCheckTest, OverlappingChecksEachReport) {
    harness.launch();
    harness.test.queue.advance(2.0);
    harness.delegate().checkForUpdatesAction();
    ASSERT_EQ(harness.test.http.requests.size(), 2u);
    // Answered out of order, from another thread, as the session's worker would.
    std::thread worker([&] {
        harness.test.http.respond(1, 200, std::string(R"({"version": "1.2"})"));
        harness.test.http.fail(0, -1001, "The request timed out.");
    });
    worker.join();
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.alerts.titles(),
              (std::vector<std::string>{"No Updates Available", "Update Failed"}));
}

struct RecordingUpdateDelegate : AutoUpdateServiceDelegate {
    void updateAvailable(const std::string& v) override { calls.push_back("available " + v); }
    void noUpdateAvailable(const std::string& v) override { calls.push_back("current " + v); }
    void updateCheckFailed(const UpdateCheckError& e) override {
        calls.push_back("failed " + describe(e));
    }
    std::vector<std::string> calls;
};

TEST(AutoUpdateService, HoldsItselfAndItsDelegateWeakly) {
    testing::TestPlatform test;
    auto delegate = std::make_shared<RecordingUpdateDelegate>();
    auto service = std::make_shared<AutoUpdateService>(test.http, test.queue, test.workspace,
                                                       test.bundle, "not a url",
                                                       "https://download.test/latest/version.json");
    service->delegate = delegate;

    // An unparsable installer URL is reported at once, on the calling thread.
    service->downloadUpdate();
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed Invalid update URL"});
    EXPECT_TRUE(test.workspace.opened.empty());

    // The delegate is looked up when the outcome is delivered, not when the reply arrives.
    service->checkForUpdates();
    test.http.respond(0, 200, std::string(R"({"version": "9"})"));
    auto replacement = std::make_shared<RecordingUpdateDelegate>();
    service->delegate = replacement;
    test.queue.runUntilIdle();
    EXPECT_EQ(replacement->calls, std::vector<std::string>{"available 9"});

    // A reply that arrives after the service is gone is dropped.
    service->checkForUpdates();
    service.reset();
    test.http.respond(1, 200, std::string(R"({"version": "9"})"));
    EXPECT_EQ(test.queue.pendingCount(), 0u);
    EXPECT_EQ(replacement->calls.size(), 1u);
}

}  // namespace
}  // namespace velmora
