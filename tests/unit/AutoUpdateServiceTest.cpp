#include <gtest/gtest.h>

#include <thread>

#include "support/AppHarness.h"
#include "update/AutoUpdateService.h"

namespace velmora {
namespace {

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

class UpdateCheckTest : public ::testing::Test {
  protected:
    // A manual check answered with `body`; returns the alerts raised, as "title | text".
    std::vector<std::string> check(const std::string& running, std::optional<std::string> body,
                                   int status = 200) {
        testing::AppHarness harness;
        harness.test.bundle.version = running;
        harness.test.alerts.script = script;
        harness.launch();
        harness.delegate().checkForUpdatesAction();
        harness.test.http.respond(0, status, std::move(body));
        harness.test.queue.runUntilIdle();
        opened = harness.test.workspace.opened;
        return texts(harness);
    }
    static std::vector<std::string> texts(const testing::AppHarness& harness) {
        std::vector<std::string> result;
        for (const auto& shown : harness.test.alerts.shown) {
            result.push_back(shown.request.messageText + " | " + shown.request.informativeText);
        }
        return result;
    }
    std::deque<platform::AlertResponse> script;
    std::vector<std::string> opened;
};

TEST_F(UpdateCheckTest, NewerVersionIsOfferedAndDownloadOpensTheInstaller) {
    using V = std::vector<std::string>;
    EXPECT_EQ(check("1.9", R"({"version": "1.10", "notes": "ignored"})"),
              V{"Update Available | A new version (1.10) of Velmora is available. Would you like "
                "to download it now?\n\nThis will open your browser to download the latest "
                "version."});
    EXPECT_EQ(opened, V{"https://download.test/latest/Velmora.dmg"});

    script.push_back({platform::alertSecondButtonReturn, std::nullopt});  // "Later"
    EXPECT_EQ(check("1.2", R"({"version": "1.2.0"})").size(), 1u);
    EXPECT_TRUE(opened.empty());

    const std::string current =
        "No Updates Available | You're already running the latest version "
        "(1.2) of Velmora.";
    EXPECT_EQ(check("1.2", R"({"version": "1.2"})"), V{current});
    EXPECT_EQ(check("1.2", R"({"version": "1.1"})"), V{current});
}

TEST_F(UpdateCheckTest, BadRepliesAnswerWithUpdateFailed) {
    const auto page = check("1.2", "<html>Not Found</html>", 404);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_TRUE(
        page[0].starts_with("Update Failed | Failed to check for updates: "
                            "parse error at line 1"))
        << page[0];

    const std::string invalid =
        "Update Failed | Failed to check for updates: Invalid response from update server";
    for (const char* document : {R"({"version": 2})", "{}", "[]", R"("1.2")"}) {
        EXPECT_EQ(check("1.2", document), std::vector<std::string>{invalid}) << document;
    }
    EXPECT_EQ(check("1.2", std::nullopt), std::vector<std::string>{invalid});
}

TEST_F(UpdateCheckTest, AutomaticAndManualChecksRunAlongsideAndEachReport) {
    testing::AppHarness harness;
    harness.test.bundle.version.reset();
    harness.launch();
    harness.delegate().checkForUpdatesAction();  // no running version: fails at once
    harness.test.bundle.version = "1.2";
    harness.test.queue.advance(1.9);
    EXPECT_TRUE(harness.test.http.requests.empty());
    harness.test.queue.advance(0.1);
    harness.delegate().checkForUpdatesAction();
    ASSERT_EQ(harness.test.http.requests.size(), 2u);
    const auto& request = harness.test.http.requests[0]->request;
    EXPECT_EQ(request.method + " " + request.url, "GET https://download.test/latest/version.json");
    EXPECT_EQ(request.timeoutSeconds, 60.0);
    EXPECT_TRUE(request.headers.empty());

    // Answered from another thread, as the session's worker would.
    std::thread([&] {
        harness.test.http.fail(0, -1009, "The Internet connection appears to be offline.");
        harness.test.http.respond(1, 200, std::string(R"({"version": "1.2"})"));
    }).join();
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(texts(harness),
              (std::vector<std::string>{
                  "Update Failed | Failed to check for updates: Could not determine current app "
                  "version",
                  "Update Failed | Failed to check for updates: The Internet connection appears "
                  "to be offline.",
                  "No Updates Available | You're already running the latest version (1.2) of "
                  "Velmora."}));
    EXPECT_EQ(harness.test.alerts.shown[1].request.style, platform::AlertStyle::Critical);
}

struct RecordingUpdateDelegate : AutoUpdateServiceDelegate {
    void updateAvailable(const std::string& v) override { calls.push_back("available " + v); }
    void noUpdateAvailable(const std::string& v) override { calls.push_back("current " + v); }
    void updateCheckFailed(const UpdateCheckError& e) override { calls.push_back(describe(e)); }
    std::vector<std::string> calls;
};

TEST(AutoUpdateService, BadInstallerURLAndWeakReferences) {
    testing::TestPlatform test;
    auto delegate = std::make_shared<RecordingUpdateDelegate>();
    auto service = std::make_shared<AutoUpdateService>(test.http, test.queue, test.workspace,
                                                       test.bundle, "not a url", "https://d/v");
    service->delegate = delegate;
    service->downloadUpdate();
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"Invalid update URL"});

    // The delegate is looked up when the outcome is delivered; a service that is gone by the
    // time its reply arrives delivers nothing.
    service->checkForUpdates();
    test.http.respond(0, 200, std::string(R"({"version": "9"})"));
    auto replacement = std::make_shared<RecordingUpdateDelegate>();
    service->delegate = replacement;
    test.queue.runUntilIdle();
    EXPECT_EQ(replacement->calls, std::vector<std::string>{"available 9"});
    service->checkForUpdates();
    service.reset();
    test.http.respond(1, 200, std::string(R"({"version": "9"})"));
    EXPECT_EQ(test.queue.pendingCount(), 0u);
}

}  // namespace
}  // namespace velmora
