#include <gtest/gtest.h>

#include <algorithm>

#include "hotkey/HotkeyManager.h"
#include "support/AppHarness.h"

namespace velmora {
namespace {

using testing::LogCapture;
using testing::TestPlatform;

struct RecordingDelegate : HotkeyManagerDelegate {
    explicit RecordingDelegate(const LogCapture& log) : log(log) {}
    void hotkeyTriggered() override { logSizeAtTrigger.push_back(log.lines().size()); }
    void showAlert(const std::string& title, const std::string& message,
                   platform::AlertStyle style) override {
        alerts.push_back({title, message, style});
    }

    struct Alert {
        std::string title;
        std::string message;
        platform::AlertStyle style;
    };
    const LogCapture& log;
    std::vector<std::size_t> logSizeAtTrigger;
    std::vector<Alert> alerts;
};

class HotkeyManagerTest : public ::testing::Test {
  protected:
    std::shared_ptr<HotkeyManager> makeManager() {
        return std::make_shared<HotkeyManager>(test.hotKeys, test.keyboardLayout, test.defaults,
                                               test.queue, delegate);
    }

    TestPlatform test;
    LogCapture log;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(log);
};

TEST_F(HotkeyManagerTest, DefaultShortcutIsRegisteredWithoutWritingTheDefaults) {
    auto manager = makeManager();
    EXPECT_EQ(manager->hotKeyCode(), 35);
    EXPECT_EQ(manager->hotKeyModifiers(), 0x0300u);
    EXPECT_EQ(manager->shortcutDisplayString(), "⌘⇧P");

    manager->registerHotkey();
    EXPECT_EQ(test.hotKeys.calls,
              (std::vector<std::string>{"installEventHandler", "registerHotKey 35 768"}));
    ASSERT_EQ(test.hotKeys.registrations.size(), 1u);
    const auto& registration = test.hotKeys.registrations.begin()->second;
    EXPECT_EQ(registration.id.signature, 0x4D4E4457u);  // "MNDW"
    EXPECT_EQ(registration.id.id, 1u);
    EXPECT_TRUE(manager->hasEventHandler());
    EXPECT_TRUE(manager->hasHotKeyRef());
    EXPECT_TRUE(log.contains("Carbon hotkey registered successfully (⌘⇧P)."));
    EXPECT_FALSE(test.defaults.contains("HotkeyCode"));
    EXPECT_FALSE(test.defaults.contains("HotkeyModifiers"));
    EXPECT_TRUE(test.defaults.writes.empty());
    EXPECT_TRUE(delegate->alerts.empty());
}

TEST_F(HotkeyManagerTest, StoredPairsAreUsedUnlessBothZeroOrOutOfRange) {
    struct Case {
        std::int64_t code;
        std::int64_t modifiers;
        std::uint16_t expectedCode;
        std::uint32_t expectedModifiers;
    };
    const Case cases[] = {
        {0, 0x0100, 0, 0x0100},                   // the A key is a real key
        {35, 0, 35, 0},                           // a bare key is kept
        {65535, 4294967295, 65535, 4294967295u},  // the largest values fit
        {65536, 0x0100, 35, 0x0300},              // key code too large
        {-1, 0x0100, 35, 0x0300},                 // negative key code
        {40, 4294967296, 35, 0x0300},             // mask too large
        {40, -1, 35, 0x0300},                     // negative mask
    };
    for (const auto& c : cases) {
        test.defaults.setInteger("HotkeyCode", c.code);
        test.defaults.setInteger("HotkeyModifiers", c.modifiers);
        auto manager = makeManager();
        EXPECT_EQ(manager->hotKeyCode(), c.expectedCode) << c.code << "/" << c.modifiers;
        EXPECT_EQ(manager->hotKeyModifiers(), c.expectedModifiers) << c.code << "/" << c.modifiers;
    }

    test.defaults.setInteger("HotkeyCode", 0);
    test.defaults.setInteger("HotkeyModifiers", 0x0100);
    EXPECT_EQ(makeManager()->shortcutDisplayString(), "⌘A");
}

TEST_F(HotkeyManagerTest, DisplayStringFollowsTheLayout) {
    auto manager = makeManager();
    EXPECT_EQ(manager->shortcutDisplayString(35, 0x1000 | 0x0800 | 0x0200 | 0x0100), "⌘⇧⌥⌃P");
    EXPECT_EQ(manager->shortcutDisplayString(40, 0x0100 | 0x0001 | 0x0400), "⌘K");
    EXPECT_EQ(manager->shortcutDisplayString(49, 0x1800), "⌥⌃ ");
    EXPECT_EQ(manager->shortcutDisplayString(63, 0x0100), "⌘?(63)");
    EXPECT_EQ(manager->keyNameForKeyCode(33), "[");
    EXPECT_EQ(manager->keyNameForKeyCode(63), std::nullopt);

    // Upper-casing is Unicode-aware, not ASCII-only.
    test.keyboardLayout.keys[10] = "é";
    EXPECT_EQ(manager->keyNameForKeyCode(10), "É");

    test.keyboardLayout.hasLayout = false;
    EXPECT_EQ(manager->keyNameForKeyCode(35), std::nullopt);
    EXPECT_EQ(manager->shortcutDisplayString(), "⌘⇧?(35)");
}

TEST_F(HotkeyManagerTest, FailedRegistrationWarnsOnceAndHandlersNeverPileUp) {
    test.hotKeys.registerStatus = -9878;
    auto manager = makeManager();
    manager->registerHotkey();

    EXPECT_TRUE(log.contains("Failed to register hotkey: -9878"));
    ASSERT_EQ(delegate->alerts.size(), 1u);
    EXPECT_EQ(delegate->alerts[0].title, "Hotkey Error");
    EXPECT_EQ(delegate->alerts[0].message,
              "Could not register global hotkey (⌘⇧P). Another app might be using it.");
    EXPECT_EQ(delegate->alerts[0].style, platform::AlertStyle::Critical);
    EXPECT_TRUE(manager->hasEventHandler());
    EXPECT_FALSE(manager->hasHotKeyRef());

    // Failing again, then succeeding: the left-over handler goes first each time.
    manager->updateHotkey(40, 0x0300);
    EXPECT_EQ(test.hotKeys.handlers.size(), 1u);
    EXPECT_EQ(delegate->alerts.size(), 2u);
    EXPECT_EQ(delegate->alerts[1].message,
              "Could not register global hotkey (⌘⇧K). Another app might be using it.");

    test.hotKeys.registerStatus = platform::noErr;
    test.hotKeys.calls.clear();
    manager->updateHotkey(0, 0x0100);
    EXPECT_EQ(test.hotKeys.calls,
              (std::vector<std::string>{"removeEventHandler", "installEventHandler",
                                        "registerHotKey 0 256"}));
    EXPECT_EQ(test.hotKeys.handlers.size(), 1u);
    EXPECT_EQ(test.hotKeys.registrations.size(), 1u);
    EXPECT_EQ(delegate->alerts.size(), 2u);
    EXPECT_TRUE(log.contains("Carbon hotkey registered successfully (⌘A)."));

    // The failed pair was persisted before registering, and every update writes code then mask.
    EXPECT_EQ(test.defaults.writes,
              (std::vector<std::string>{"set HotkeyCode", "set HotkeyModifiers", "set HotkeyCode",
                                        "set HotkeyModifiers"}));
    EXPECT_EQ(test.defaults.integerForKey("HotkeyCode"), 0);
    EXPECT_EQ(test.defaults.integerForKey("HotkeyModifiers"), 0x0100);
}

TEST_F(HotkeyManagerTest, FailuresWithoutAlertOrDelegate) {
    test.hotKeys.installStatus = -50;
    auto manager = makeManager();
    manager->registerHotkey();
    EXPECT_TRUE(log.contains("Failed to install event handler: -50"));
    EXPECT_EQ(test.hotKeys.calls, (std::vector<std::string>{"installEventHandler"}));
    EXPECT_FALSE(manager->hasEventHandler());
    EXPECT_TRUE(delegate->alerts.empty());

    test.hotKeys.installStatus = platform::noErr;
    test.hotKeys.registerStatus = -1;
    delegate.reset();
    manager->registerHotkey();
    EXPECT_TRUE(log.contains("Failed to register hotkey: -1"));
    EXPECT_TRUE(manager->hasEventHandler());
}

TEST_F(HotkeyManagerTest, PressLogsAndDefersTheDelegateToTheMainQueue) {
    auto manager = makeManager();
    manager->registerHotkey();

    EXPECT_EQ(test.hotKeys.press(), std::vector<platform::HotKeyStatus>{platform::noErr});
    const int pressLine = log.indexOf("HotkeyManager: Carbon hotkey triggered!");
    ASSERT_GE(pressLine, 0);
    EXPECT_TRUE(delegate->logSizeAtTrigger.empty()) << "the delegate ran inside the handler";

    test.queue.runUntilIdle();
    ASSERT_EQ(delegate->logSizeAtTrigger.size(), 1u);
    EXPECT_GT(delegate->logSizeAtTrigger[0], static_cast<std::size_t>(pressLine));

    // An event without user data is not this manager's.
    const auto handler = test.hotKeys.handlers.begin()->second.first;
    EXPECT_EQ(handler(nullptr), platform::eventNotHandledErr);
}

TEST_F(HotkeyManagerTest, QueuedPressHoldsManagerAndDelegateWeakly) {
    auto manager = makeManager();
    manager->registerHotkey();
    test.hotKeys.press();
    delegate.reset();
    test.queue.runUntilIdle();  // nothing to call; must not crash

    auto second = std::make_shared<RecordingDelegate>(log);
    manager->delegate = second;
    test.hotKeys.press();
    manager.reset();
    test.queue.runUntilIdle();
    EXPECT_TRUE(second->logSizeAtTrigger.empty());
    // Destroying the manager withdrew the handler that carried its address.
    EXPECT_TRUE(test.hotKeys.handlers.empty());
    EXPECT_TRUE(test.hotKeys.registrations.empty());
}

TEST_F(HotkeyManagerTest, UnregisterReleasesWhateverIsHeld) {
    auto manager = makeManager();
    manager->unregisterHotkey();
    EXPECT_TRUE(test.hotKeys.calls.empty());

    manager->registerHotkey();
    test.hotKeys.calls.clear();
    manager->unregisterHotkey();
    EXPECT_EQ(test.hotKeys.calls,
              (std::vector<std::string>{"unregisterHotKey", "removeEventHandler"}));
    EXPECT_FALSE(manager->hasHotKeyRef());
    EXPECT_FALSE(manager->hasEventHandler());
    EXPECT_TRUE(test.hotKeys.press().empty());
}

TEST(HotkeyAtLaunch, RegistersOnceAndRaisesOneNoticeOnFailure) {
    testing::AppHarness harness;
    harness.test.hotKeys.registerStatus = -9878;
    harness.launch();
    const auto titles = harness.test.alerts.titles();
    EXPECT_EQ(std::count(titles.begin(), titles.end(), "Hotkey Error"), 1);
    EXPECT_FALSE(harness.test.defaults.contains("HotkeyCode"));

    harness.app.willTerminate();
    EXPECT_TRUE(harness.test.hotKeys.handlers.empty());
}

}  // namespace
}  // namespace velmora
