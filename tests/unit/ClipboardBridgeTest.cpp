#include <gtest/gtest.h>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::eventFlagMaskCommand;

constexpr const char* kSettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

platform::ClipboardSnapshot textAndImage() {
    return {{{testing::TestClipboard::kTextFormat, "earlier"}, {"image/png", "\x89PNG"}}};
}

TEST(ClipboardBridge, KeyPressPostsBothEventsWithExactlyTheGivenFlags) {
    testing::AppHarness h;
    AppDelegate& app = h.launch();
    auto& keys = h.test.keyEvents;
    int createdAtFirstPost = -1;
    keys.onPost = [&](const platform::KeyEvent&) {
        if (createdAtFirstPost < 0) {
            createdAtFirstPost = keys.eventsCreated;
        }
    };
    double completedAt = -1;
    app.simulateKeyPress(8, eventFlagMaskCommand | platform::eventFlagMaskShift,
                         [&] { completedAt = h.test.queue.now(); });
    EXPECT_TRUE(keys.posted.empty()) << "queued, not posted inside the caller";

    h.test.queue.runUntilIdle();
    ASSERT_EQ(keys.posted.size(), 2u);
    EXPECT_EQ(createdAtFirstPost, 2) << "both events exist before either is posted";
    for (const auto& posted : keys.posted) {
        EXPECT_EQ(posted.event.keyCode, 8);
        EXPECT_EQ(posted.event.flags, eventFlagMaskCommand | platform::eventFlagMaskShift);
    }
    EXPECT_TRUE(keys.posted[0].event.keyDown);
    EXPECT_FALSE(keys.posted[1].event.keyDown);
    EXPECT_NEAR(keys.posted[1].time - keys.posted[0].time, 0.01, 1e-9);
    EXPECT_NEAR(h.test.queue.sleptSeconds(), 0.01, 1e-9);

    h.test.queue.advance(0.049);
    EXPECT_LT(completedAt, 0);
    h.test.queue.advance(0.002);
    EXPECT_NEAR(completedAt - keys.posted[1].time, 0.05, 1e-9);
}

TEST(ClipboardBridge, MissingEventsAreSkippedButThePauseAndCompletionRemain) {
    testing::AppHarness h;
    AppDelegate& app = h.launch();
    auto& keys = h.test.keyEvents;
    int completions = 0;

    keys.failKeyDown = true;
    app.simulateKeyPress(9, eventFlagMaskCommand, [&] { ++completions; });
    h.test.queue.advance(0.1);
    ASSERT_EQ(keys.posted.size(), 1u);
    EXPECT_FALSE(keys.posted[0].event.keyDown);

    keys.failKeyDown = false;
    keys.failKeyUp = true;
    keys.sourceAvailable = false;
    app.simulateKeyPress(9, eventFlagMaskCommand, [&] { ++completions; });
    h.test.queue.advance(0.1);
    ASSERT_EQ(keys.posted.size(), 2u);
    EXPECT_TRUE(keys.posted[1].event.keyDown);

    EXPECT_EQ(completions, 2);
    EXPECT_NEAR(h.test.queue.sleptSeconds(), 0.02, 1e-9);
}

// Mend: every format survives a save and restore, not just the text.
TEST(ClipboardBridge, RestorePutsBackEveryFormatThatWasSaved) {
    testing::AppHarness h;
    AppDelegate& app = h.launch();
    auto& clipboard = h.test.clipboard;

    clipboard.contents = textAndImage();
    app.saveOriginalPasteboard();
    EXPECT_EQ(app.originalPasteboardContent(), "earlier");
    EXPECT_EQ(app.readPasteboardText(), "earlier") << "saving does not clear";

    app.placeResultOnPasteboard("answer");
    EXPECT_EQ(clipboard.contents.formats.size(), 1u) << "the result replaces everything";
    EXPECT_EQ(app.readPasteboardText(), "answer");

    app.restoreOriginalPasteboard();
    EXPECT_EQ(app.readPasteboardText(), "answer") << "the restore is queued";
    h.test.queue.runUntilIdle();
    EXPECT_EQ(clipboard.contents, textAndImage());
    EXPECT_FALSE(app.originalPasteboardContent().has_value());

    // Only an image: no saved text, and the image comes back.
    clipboard.contents = {{{"image/png", "\x89PNG"}}};
    app.saveOriginalPasteboard();
    EXPECT_FALSE(app.originalPasteboardContent().has_value());
    app.placeResultOnPasteboard("answer");
    app.restoreOriginalPasteboard();
    h.test.queue.runUntilIdle();
    EXPECT_EQ(clipboard.contents.formats,
              (std::vector<std::pair<std::string, std::string>>{{"image/png", "\x89PNG"}}));

    // An empty text is put back as the empty text; an empty clipboard ends empty.
    clipboard.setText("");
    app.saveOriginalPasteboard();
    EXPECT_EQ(app.originalPasteboardContent(), "");
    app.placeResultOnPasteboard("answer");
    app.restoreOriginalPasteboard();
    h.test.queue.runUntilIdle();
    EXPECT_EQ(app.readPasteboardText(), "");

    clipboard.clear();
    app.saveOriginalPasteboard();
    app.placeResultOnPasteboard("answer");
    app.restoreOriginalPasteboard();
    h.test.queue.runUntilIdle();
    EXPECT_TRUE(clipboard.contents.empty());
}

// Mend: a restore with no save pending leaves the clipboard alone.
TEST(ClipboardBridge, RestoreWithoutAPendingSaveLeavesTheClipboardAlone) {
    testing::AppHarness h;
    AppDelegate& app = h.launch();
    auto& clipboard = h.test.clipboard;

    clipboard.contents = textAndImage();
    app.restoreOriginalPasteboard();
    h.test.queue.runUntilIdle();
    EXPECT_EQ(clipboard.contents, textAndImage());

    app.saveOriginalPasteboard();
    app.restoreOriginalPasteboard();
    app.restoreOriginalPasteboard();
    clipboard.setText("someone else's copy");
    h.test.queue.runUntilIdle();
    EXPECT_EQ(clipboard.contents, textAndImage()) << "the first restore put it back";
    clipboard.setText("copied later");
    app.restoreOriginalPasteboard();
    h.test.queue.runUntilIdle();
    EXPECT_EQ(app.readPasteboardText(), "copied later");
}

TEST(ClipboardBridge, PermissionCheckAtLaunchAndOnRequest) {
    {
        testing::AppHarness h;
        h.launch();
        EXPECT_TRUE(h.log.contains("Accessibility permissions already granted."));
        EXPECT_EQ(h.test.accessibility.prompts, 1);
        EXPECT_TRUE(h.test.alerts.shown.empty()) << "granted at launch: only the log line";

        h.delegate().checkAccessibilityPermissions(true);
        h.test.queue.runUntilIdle();
        ASSERT_EQ(h.test.alerts.shown.size(), 1u);
        EXPECT_EQ(h.test.alerts.shown[0].request.messageText, "Permissions Granted");
        EXPECT_EQ(h.test.alerts.shown[0].request.informativeText,
                  "Accessibility permissions are enabled for Velmora.");
        EXPECT_EQ(h.test.alerts.shown[0].request.style, platform::AlertStyle::Informational);
    }
    {
        testing::AppHarness h;
        h.test.accessibility.trusted = false;
        h.test.alerts.script.push_back({platform::alertSecondButtonReturn, std::nullopt});
        h.test.alerts.script.push_back({platform::alertFirstButtonReturn, std::nullopt});
        h.app.didFinishLaunching();
        EXPECT_TRUE(h.test.alerts.shown.empty()) << "queued, not shown inside the launch";
        EXPECT_LT(h.log.indexOf("Accessibility permissions are required."),
                  h.log.indexOf("App launched. Selected Model: gemini-2.5-flash-preview-05-20. "
                                "Authenticated: false, Token available: false"));
        h.test.queue.runUntilIdle();
        ASSERT_EQ(h.test.alerts.shown.size(), 1u);
        const auto& request = h.test.alerts.shown[0].request;
        EXPECT_EQ(request.messageText, "Permissions Required");
        EXPECT_EQ(request.informativeText,
                  "Velmora needs Accessibility permissions to copy and paste text automatically."
                  "\n\nPlease grant access in:\nSystem Settings > Privacy & Security > "
                  "Accessibility");
        EXPECT_EQ(request.style, platform::AlertStyle::Warning);
        EXPECT_EQ(request.buttons, (std::vector<std::string>{"Open Settings", "Cancel"}));
        EXPECT_TRUE(h.test.workspace.opened.empty()) << "Cancel does nothing";

        h.delegate().checkAccessibilityPermissions(true);
        h.test.queue.runUntilIdle();
        EXPECT_EQ(h.test.alerts.titles(),
                  (std::vector<std::string>{"Permissions Required", "Permissions Required"}));
        EXPECT_EQ(h.test.workspace.opened, std::vector<std::string>{kSettingsURL});
        EXPECT_FALSE(h.delegate().isAccessibilityTrusted());
        EXPECT_EQ(h.test.accessibility.prompts, 2) << "isAccessibilityTrusted never prompts";
    }
}

}  // namespace
}  // namespace velmora
