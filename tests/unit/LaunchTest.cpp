#include <gtest/gtest.h>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using testing::AppHarness;

TEST(Launch, FirstStartWithNothingStored) {
    AppHarness harness;
    AppDelegate& app = harness.launch();

    const auto lines = harness.log.lines();
    const int settingsLine = harness.log.indexOf(
        "Settings loaded: Model=gemini-2.5-flash-preview-05-20, CustomInstr Set=false, "
        "WritingStyle=custom, Authenticated=false");
    const int launchedLine = harness.log.indexOf(
        "App launched. Selected Model: gemini-2.5-flash-preview-05-20. Authenticated: false, "
        "Token available: false");
    ASSERT_GE(settingsLine, 0);
    ASSERT_GE(launchedLine, 0);
    EXPECT_LT(settingsLine, launchedLine);
    EXPECT_LT(harness.log.indexOf("Keychain: Token not found."), settingsLine);

    EXPECT_FALSE(app.isSignedIn());
    EXPECT_EQ(app.currentWritingStyle(), "custom");
    EXPECT_EQ(harness.test.defaults.stringForKey("selectedProxyModel"),
              "gemini-2.5-flash-preview-05-20");
    // The flag is rewritten at every start; the style is not written back.
    EXPECT_TRUE(harness.test.defaults.contains("isUserAuthenticated"));
    EXPECT_FALSE(harness.test.defaults.boolForKey("isUserAuthenticated"));
    EXPECT_FALSE(harness.test.defaults.contains("selectedWritingStyle"));
}

TEST(Launch, StoredTokenSignsIn) {
    AppHarness harness;
    harness.test.defaults.values["isUserAuthenticated"] = false;  // the flag is never read
    harness.test.defaults.values["customAIInstructions"] = std::string("be terse");
    harness.test.defaults.values["selectedWritingStyle"] = std::string("weird");
    AppDelegate& app = harness.launchSignedIn("tok");

    EXPECT_TRUE(harness.log.contains(
        "Settings loaded: Model=gemini-2.5-flash-preview-05-20, CustomInstr Set=true, "
        "WritingStyle=weird, Authenticated=true"));
    EXPECT_TRUE(harness.log.contains(
        "App launched. Selected Model: gemini-2.5-flash-preview-05-20. Authenticated: true, "
        "Token available: true"));
    EXPECT_TRUE(app.isSignedIn());
    EXPECT_EQ(app.authToken(), "tok");
    EXPECT_TRUE(harness.test.defaults.boolForKey("isUserAuthenticated"));
}

TEST(Launch, BuildsTheShellInOrder) {
    AppHarness harness;
    AppDelegate& app = harness.launch();

    ASSERT_TRUE(app.settingsManager() && app.menuManager() && app.hotkeyManager() &&
                app.apiService() && app.autoUpdateService());
    EXPECT_EQ(app.apiService()->localProxyEndpoint(), "https://api.test/api/chat");
    EXPECT_EQ(app.autoUpdateService()->updateURL(), "https://download.test/latest/Velmora.dmg");
    EXPECT_EQ(app.autoUpdateService()->versionCheckURL(),
              "https://download.test/latest/version.json");
    EXPECT_EQ(app.authURLString(), "https://api.test/auth/google?platform=mac");

    EXPECT_EQ(harness.test.statusBar.lengths, std::vector<double>{-2.0});
    ASSERT_TRUE(harness.statusItem().image);
    EXPECT_EQ(*harness.statusItem().image,
              (platform::StatusImage{platform::StatusImage::Kind::Application, "AppIcon", 18, 18,
                                     false, ""}));
    EXPECT_EQ(harness.test.keyEvents.eventTaps, 1);
    EXPECT_EQ(harness.test.accessibility.prompts, 1);
    EXPECT_EQ(harness.test.application.policies,
              std::vector<platform::ActivationPolicy>{platform::ActivationPolicy::Accessory});
    EXPECT_EQ(harness.test.urlEvents.installs, 1);
}

TEST(Launch, WithoutAButtonOrIconTheLaunchGoesOn) {
    AppHarness noButton;
    noButton.test.statusBar.itemsHaveButton = false;
    noButton.launch();
    EXPECT_FALSE(noButton.statusItem().image);
    EXPECT_FALSE(noButton.statusItem().menu);
    noButton.delegate().resetStatusIcon();
    EXPECT_TRUE(noButton.statusItem().images.empty());
    EXPECT_GE(noButton.log.indexOf("App launched. Selected Model: gemini-2.5-flash-preview-05-20. "
                                   "Authenticated: false, Token available: false"),
              0);

    AppHarness noIcon;
    noIcon.test.images.names.clear();
    noIcon.launch();
    EXPECT_FALSE(noIcon.statusItem().image);
}

TEST(Launch, EndpointsFollowTheEnvironment) {
    ::setenv("VELMORA_API_HOST", "127.0.0.1:8443", 1);
    ::setenv("VELMORA_DOWNLOAD_HOST", "localhost:9000", 1);
    ::unsetenv("VELMORA_WEBSITE_HOST");
    const auto endpoints = ServiceEndpoints::forHosts(ServiceHosts::fromEnvironment());
    ::unsetenv("VELMORA_API_HOST");
    ::unsetenv("VELMORA_DOWNLOAD_HOST");

    EXPECT_EQ(endpoints.chat, "https://127.0.0.1:8443/api/chat");
    EXPECT_EQ(endpoints.signInPage, "https://127.0.0.1:8443/auth/google?platform=mac");
    EXPECT_EQ(endpoints.versionDocument, "https://localhost:9000/latest/version.json");
    EXPECT_EQ(endpoints.installer, "https://localhost:9000/latest/Velmora.dmg");
    EXPECT_EQ(endpoints.website, "https://" + ServiceHosts::builtIn().website);
    EXPECT_EQ(endpoints.privacyPage, "https://" + ServiceHosts::builtIn().website + "/privacy");
}

TEST(Termination, WhileIdleOnlyUnregisters) {
    AppHarness harness;
    harness.launch();
    const auto imagesBefore = harness.statusItem().images.size();
    harness.test.hotKeys.calls.clear();

    harness.app.willTerminate();
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.urlEvents.removals, 1);
    EXPECT_TRUE(harness.test.hotKeys.registrations.empty());
    EXPECT_TRUE(harness.test.hotKeys.handlers.empty());
    EXPECT_EQ(harness.statusItem().images.size(), imagesBefore);
    EXPECT_FALSE(harness.test.urlEvents.deliver("velmora://auth/callback?token=x"));
}

TEST(Notices, AreQueuedAndShownInTheOrderRaised) {
    AppHarness harness;
    AppDelegate& app = harness.launch();
    harness.test.alerts.shown.clear();

    app.showAlert("First", "one", platform::AlertStyle::Informational);
    app.showAlert("Second", "two", platform::AlertStyle::Critical);
    EXPECT_TRUE(harness.test.alerts.shown.empty());

    harness.test.queue.runUntilIdle();
    ASSERT_EQ(harness.test.alerts.titles(), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(harness.test.alerts.shown[1].request.style, platform::AlertStyle::Critical);
    EXPECT_EQ(harness.test.alerts.shown[1].request.buttons, std::vector<std::string>{"OK"});
}

}  // namespace
}  // namespace velmora
