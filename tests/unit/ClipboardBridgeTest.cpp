#include <gtest/gtest.h>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using Formats = std::vector<std::pair<std::string, std::string>>;
constexpr std::uint64_t kFlags = platform::eventFlagMaskCommand | platform::eventFlagMaskShift;

TEST(ClipboardBridge, KeyPressMakesBothEventsFirstAndSkipsMissingOnes) {
    testing::AppHarness h;
    auto& keys = h.test.keyEvents;
    int createdAtFirstPost = -1;
    keys.onPost = [&](const platform::KeyEvent&) {
        createdAtFirstPost = createdAtFirstPost < 0 ? keys.eventsCreated : createdAtFirstPost;
    };
    std::vector<double> completions;
    h.launch().simulateKeyPress(8, kFlags, [&] { completions.push_back(h.test.queue.now()); });
    EXPECT_TRUE(keys.posted.empty()) << "queued, not posted inside the caller";
    h.test.queue.advance(0.0599);
    ASSERT_EQ(keys.posted.size(), 2u);
    EXPECT_EQ(createdAtFirstPost, 2);
    EXPECT_TRUE(keys.posted[0].event.keyDown && !keys.posted[1].event.keyDown);
    EXPECT_EQ(keys.posted[0].event.flags, kFlags);
    EXPECT_EQ(keys.posted[1].event.flags, kFlags);
    EXPECT_NEAR(keys.posted[1].time - keys.posted[0].time, 0.01, 1e-9);
    EXPECT_TRUE(completions.empty());
    h.test.queue.advance(0.0002);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_NEAR(completions[0] - keys.posted[1].time, 0.05, 1e-9);

    keys.failKeyDown = true;
    keys.sourceAvailable = false;
    h.delegate().simulateKeyPress(9, kFlags, [&] { completions.push_back(h.test.queue.now()); });
    h.test.queue.advance(0.1);
    ASSERT_EQ(keys.posted.size(), 3u);
    EXPECT_FALSE(keys.posted[2].event.keyDown);
    EXPECT_EQ(completions.size(), 2u);
    EXPECT_NEAR(h.test.queue.sleptSeconds(), 0.02, 1e-9) << "the pause still happens";
}

// Every format comes back, and only from a pending save.
TEST(ClipboardBridge, RestorePutsBackWhatTheSaveTookOnce) {
    testing::AppHarness h;
    AppDelegate& app = h.launch();
    auto& clipboard = h.test.clipboard;
    auto roundTrip = [&](const Formats& formats) {
        clipboard.contents.formats = formats;
        app.saveOriginalPasteboard();
        app.placeResultOnPasteboard("answer");
        EXPECT_EQ(clipboard.contents.formats.size(), 1u) << "the result replaces everything";
        app.restoreOriginalPasteboard();
        EXPECT_EQ(app.readPasteboardText(), "answer") << "the restore is queued";
        h.test.queue.runUntilIdle();
        EXPECT_EQ(clipboard.contents.formats, formats);
        EXPECT_FALSE(app.originalPasteboardContent());
    };
    const Formats textAndImage{{testing::TestClipboard::kTextFormat, "earlier"},
                               {"image/png", "P"}};
    clipboard.contents.formats = textAndImage;
    app.saveOriginalPasteboard();
    EXPECT_EQ(app.originalPasteboardContent(), "earlier");
    roundTrip(textAndImage);
    roundTrip({{"image/png", "P"}});
    roundTrip({{testing::TestClipboard::kTextFormat, ""}});
    roundTrip({});

    app.restoreOriginalPasteboard();
    clipboard.setText("copied later");
    h.test.queue.runUntilIdle();
    EXPECT_EQ(app.readPasteboardText(), "copied later");
}

TEST(ClipboardBridge, PermissionCheckAtLaunchAndOnRequest) {
    testing::AppHarness granted;
    granted.launch().checkAccessibilityPermissions(true);
    granted.test.queue.runUntilIdle();
    EXPECT_TRUE(granted.log.contains("Accessibility permissions already granted."));
    EXPECT_EQ(granted.test.alerts.titles(), std::vector<std::string>{"Permissions Granted"});
    EXPECT_EQ(granted.test.alerts.shown[0].request.informativeText,
              "Accessibility permissions are enabled for Velmora.");

    testing::AppHarness h;
    h.test.accessibility.trusted = false;
    h.test.alerts.script.push_back({platform::alertSecondButtonReturn, std::nullopt});
    h.app.didFinishLaunching();
    EXPECT_TRUE(h.log.contains("Accessibility permissions are required."));
    EXPECT_TRUE(h.test.alerts.shown.empty()) << "queued, not shown inside the launch";
    h.test.queue.runUntilIdle();
    h.delegate().checkAccessibilityPermissions(true);
    h.test.queue.runUntilIdle();
    ASSERT_EQ(h.test.alerts.shown.size(), 2u);
    const auto& request = h.test.alerts.shown[0].request;
    EXPECT_EQ(request.messageText, "Permissions Required");
    EXPECT_EQ(request.informativeText,
              "Velmora needs Accessibility permissions to copy and paste text automatically.\n\n"
              "Please grant access in:\nSystem Settings > Privacy & Security > Accessibility");
    EXPECT_EQ(request.style, platform::AlertStyle::Warning);
    EXPECT_EQ(request.buttons, (std::vector<std::string>{"Open Settings", "Cancel"}));
    EXPECT_EQ(h.test.workspace.opened,
              std::vector<std::string>{
                  "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"})
        << "only the second alert's Open Settings opens the pane";
    EXPECT_FALSE(h.delegate().isAccessibilityTrusted());
    EXPECT_EQ(h.test.accessibility.prompts, 2) << "isAccessibilityTrusted never prompts";
}

}  // namespace
}  // namespace velmora
