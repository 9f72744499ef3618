#include <gtest/gtest.h>

#include "hotkey/HotkeyManager.h"
#include "support/TestPlatform.h"

namespace velmora {
namespace {

struct RecordingDelegate : HotkeyManagerDelegate {
    explicit RecordingDelegate(const testing::LogCapture& log) : log(log) {}
    void hotkeyTriggered() override { logSizeAtTrigger.push_back(log.lines().size()); }
    void showAlert(const std::string& title, const std::string& message,
                   platform::AlertStyle style) override {
        alerts.push_back(title + " | " + message + " | " + std::to_string(int(style)));
    }
    const testing::LogCapture& log;
    std::vector<std::size_t> logSizeAtTrigger;
    std::vector<std::string> alerts;
};

class HotkeyManagerTest : public ::testing::Test {
  protected:
    std::shared_ptr<HotkeyManager> makeManager() {
        return std::make_shared<HotkeyManager>(test.hotKeys, test.keyboardLayout, test.defaults,
                                               test.queue, delegate);
    }
    testing::TestPlatform test;
    testing::LogCapture log;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(log);
};

TEST_F(HotkeyManagerTest, DefaultShortcutRegistersWithoutWritingDefaultsAndDisplaysByLayout) {
    auto manager = makeManager();
    manager->registerHotkey();
    EXPECT_EQ(test.hotKeys.calls,
              (std::vector<std::string>{"installEventHandler", "registerHotKey 35 768"}));
    EXPECT_EQ(test.hotKeys.registrations.begin()->second.id.signature, 0x4D4E4457u);  // "MNDW"
    EXPECT_EQ(test.hotKeys.registrations.begin()->second.id.id, 1u);
    EXPECT_TRUE(log.contains("Carbon hotkey registered successfully (⌘⇧P)."));
    EXPECT_TRUE(test.defaults.writes.empty());

    EXPECT_EQ(manager->shortcutDisplayString(35, 0x1000 | 0x0800 | 0x0200 | 0x0100 | 0x1), "⌘⇧⌥⌃P");
    EXPECT_EQ(manager->shortcutDisplayString(49, 0x1800), "⌥⌃ ");
    EXPECT_EQ(manager->shortcutDisplayString(63, 0x0100), "⌘?(63)");
    test.keyboardLayout.keys[10] = "é";  // upper-cased as Unicode, not ASCII
    EXPECT_EQ(manager->keyNameForKeyCode(10), "É");
    test.keyboardLayout.hasLayout = false;
    EXPECT_EQ(manager->shortcutDisplayString(), "⌘⇧?(35)");
}

TEST_F(HotkeyManagerTest, StoredPairIsUsedUnlessBothZeroOrOutOfRange) {
    const std::int64_t cases[][4] = {
        {0, 0x0100, 0, 0x0100},
        {35, 0, 35, 0},
        {65535, 4294967295, 65535, 4294967295},
        {65536, 0x0100, 35, 0x0300},
        {-1, 0x0100, 35, 0x0300},
        {40, 4294967296, 35, 0x0300},
        {40, -1, 35, 0x0300},
    };
    for (const auto& c : cases) {
        test.defaults.setInteger("HotkeyCode", c[0]);
        test.defaults.setInteger("HotkeyModifiers", c[1]);
        auto manager = makeManager();
        EXPECT_EQ(manager->hotKeyCode(), c[2]) << c[0] << "/" << c[1];
        EXPECT_EQ(manager->hotKeyModifiers(), c[3]) << c[0] << "/" << c[1];
    }
    test.defaults.setInteger("HotkeyCode", 0);
    test.defaults.setInteger("HotkeyModifiers", 0x0100);
    EXPECT_EQ(makeManager()->shortcutDisplayString(), "⌘A");
}

TEST_F(HotkeyManagerTest, FailedRegistrationWarnsOnceAndHandlersNeverPileUp) {
    test.hotKeys.installStatus = -50;
    auto manager = makeManager();
    manager->registerHotkey();
    EXPECT_TRUE(log.contains("Failed to install event handler: -50"));
    EXPECT_TRUE(delegate->alerts.empty());

    test.hotKeys.installStatus = platform::noErr;
    test.hotKeys.registerStatus = -9878;
    manager->registerHotkey();
    EXPECT_TRUE(log.contains("Failed to register hotkey: -9878"));
    EXPECT_EQ(delegate->alerts,
              std::vector<std::string>{"Hotkey Error | Could not register global hotkey (⌘⇧P). "
                                       "Another app might be using it. | 2"});
    EXPECT_TRUE(manager->hasEventHandler());

    test.hotKeys.registerStatus = platform::noErr;
    test.hotKeys.calls.clear();
    manager->updateHotkey(0, 0x0100);
    EXPECT_EQ(test.hotKeys.calls,
              (std::vector<std::string>{"removeEventHandler", "installEventHandler",
                                        "registerHotKey 0 256"}));
    EXPECT_EQ(test.hotKeys.handlers.size(), 1u);
    EXPECT_EQ(delegate->alerts.size(), 1u);
    EXPECT_EQ(test.defaults.writes,
              (std::vector<std::string>{"set HotkeyCode", "set HotkeyModifiers"}));
    EXPECT_EQ(test.defaults.integerForKey("HotkeyModifiers"), 0x0100);
}

TEST_F(HotkeyManagerTest, PressLogsFirstAndReachesTheDelegateOnALaterTurn) {
    auto manager = makeManager();
    manager->registerHotkey();
    EXPECT_EQ(test.hotKeys.press(), std::vector<platform::HotKeyStatus>{platform::noErr});
    const int pressLine = log.indexOf("HotkeyManager: Carbon hotkey triggered!");
    ASSERT_GE(pressLine, 0);
    EXPECT_TRUE(delegate->logSizeAtTrigger.empty()) << "the delegate ran inside the handler";
    test.queue.runUntilIdle();
    ASSERT_EQ(delegate->logSizeAtTrigger.size(), 1u);
    EXPECT_GT(delegate->logSizeAtTrigger[0], std::size_t(pressLine));
    EXPECT_EQ(test.hotKeys.handlers.begin()->second.first(nullptr), platform::eventNotHandledErr);

    // The queued call holds manager and delegate weakly; a destroyed manager leaves no handler
    // carrying its address behind.
    test.hotKeys.press();
    manager.reset();
    test.queue.runUntilIdle();
    EXPECT_EQ(delegate->logSizeAtTrigger.size(), 1u);
    EXPECT_TRUE(test.hotKeys.handlers.empty());
    EXPECT_TRUE(test.hotKeys.registrations.empty());
}

}  // namespace
}  // namespace velmora
