#include <gtest/gtest.h>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

using testing::AppHarness;

TEST(Launch, FirstStartLogsItsSequenceAndBindsTheShortcut) {
    AppHarness h;
    h.test.defaults.values["customAIInstructions"] = std::string();  // empty counts as unset
    h.launch();
    EXPECT_EQ(h.log.lines(),
              (std::vector<std::string>{
                  "Keychain: Token not found.", "Saved authentication flag to UserDefaults: false",
                  "Settings loaded: Model=gemini-2.5-flash-preview-05-20, CustomInstr Set=false, "
                  "WritingStyle=custom, Authenticated=false",
                  "Accessibility permissions already granted.",
                  "Carbon hotkey registered successfully (Ctrl+Shift+P).",
                  "App launched. Selected Model: gemini-2.5-flash-preview-05-20. Authenticated: "
                  "false, Token available: false"}));
    EXPECT_EQ(h.test.desktop.bound,
              (platform::Shortcut{platform::keys::P,
                                  platform::Modifier::Control | platform::Modifier::Shift}));
    EXPECT_EQ(h.statusItem().images, std::vector<std::string>{"AppIcon"});
    EXPECT_TRUE(h.statusItem().find("Sign in"));
    EXPECT_TRUE(h.test.alerts.shown.empty());
    // The model falls back and is stored; the style and the shortcut are not written back.
    const auto& values = h.test.defaults.values;
    EXPECT_EQ(h.test.defaults.stringForKey("selectedProxyModel"), "gemini-2.5-flash-preview-05-20");
    EXPECT_EQ(values.at("isUserAuthenticated"), testing::FakeDefaults::Value(false));
    EXPECT_FALSE(values.contains("selectedWritingStyle") || values.contains("HotkeyCode"));
}

TEST(Launch, AStoredTokenSignsInWhateverTheFlagSays) {
    AppHarness h;
    h.test.defaults.values["isUserAuthenticated"] = false;
    h.test.defaults.values["customAIInstructions"] = std::string("be terse");
    h.test.defaults.values["selectedWritingStyle"] = std::string("weird");
    h.launchSignedIn("tok");
    EXPECT_TRUE(h.log.contains(
        "Settings loaded: Model=gemini-2.5-flash-preview-05-20, CustomInstr Set=true, "
        "WritingStyle=weird, Authenticated=true"));
    EXPECT_EQ(h.log.lines().back(),
              "App launched. Selected Model: gemini-2.5-flash-preview-05-20. Authenticated: true, "
              "Token available: true");
    EXPECT_EQ(h.delegate().account().authToken(), "tok");
    EXPECT_TRUE(h.statusItem().find("Sign out"));
    EXPECT_EQ(h.test.defaults.values.at("isUserAuthenticated"), testing::FakeDefaults::Value(true));
}

TEST(Launch, ChecksForUpdatesTwoSecondsLaterAndReportsWhatItFinds) {
    AppHarness h;
    h.launch();
    EXPECT_TRUE(h.test.http.requests.empty());
    h.run(1990ms);
    EXPECT_TRUE(h.test.http.requests.empty());
    h.run(20ms);
    ASSERT_EQ(h.test.http.to("https://download.test/latest/version.json").size(), 1u);
    h.test.http.fail(0, "no route");
    h.run();
    ASSERT_EQ(h.test.alerts.titles(), std::vector<std::string>{"Update Failed"});
    EXPECT_EQ(h.test.alerts.shown[0].request.message, "Failed to check for updates: no route");
}

TEST(Launch, MissingCapabilitiesAreToldOnceEach) {
    AppHarness h;
    h.test.desktop.keystrokePermission = platform::Capability::no("No keyboard control here.");
    h.test.desktop.clipboardAvailability = platform::Capability::no("No clipboard here.");
    h.test.desktop.bindResult = {platform::BindStatus::Unavailable,
                                 "Bind a key to the command: velmora --trigger", std::nullopt};
    h.test.defaults.problem = "Velmora cannot save its settings in /ro.";
    h.test.defaults.unreadable = "The settings file is a FIFO.";
    h.launch();
    EXPECT_TRUE(h.log.contains("Accessibility permissions are required."));
    EXPECT_TRUE(h.log.contains("Failed to register hotkey: -9879"));
    ASSERT_EQ(
        h.test.alerts.titles(),
        (std::vector<std::string>{"Permissions Required", "Clipboard Not Available", "Hotkey Error",
                                  "Settings Cannot Be Read", "Settings Cannot Be Saved"}));
    EXPECT_EQ(h.test.alerts.shown[0].request.message, "No keyboard control here.");
    EXPECT_EQ(h.test.alerts.shown[1].request.message, "No clipboard here.");
    EXPECT_EQ(h.test.alerts.shown[2].request.message,
              "Bind a key to the command: velmora --trigger");
    EXPECT_EQ(h.test.alerts.shown[3].request.message, "The settings file is a FIFO.");
    EXPECT_EQ(h.test.alerts.shown[4].request.message, "Velmora cannot save its settings in /ro.");
    EXPECT_TRUE(h.log.lines().back().starts_with("App launched."));
}

TEST(Termination, UnbindsAndStopsListening) {
    AppHarness h;
    h.launch();
    h.app.willTerminate();
    h.run();
    EXPECT_FALSE(h.test.desktop.bound);
    EXPECT_FALSE(h.test.application.urlHandler);
    EXPECT_EQ(h.statusItem().images.size(), 1u);
}

TEST(Endpoints, FollowTheEnvironment) {
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
    EXPECT_EQ(endpoints.website, "https://velmora.app");
    EXPECT_EQ(endpoints.privacyPage, "https://velmora.app/privacy");
}

}  // namespace
}  // namespace velmora
