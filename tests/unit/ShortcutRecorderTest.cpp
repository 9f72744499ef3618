#include <gtest/gtest.h>

#include "hotkey/ShortcutEditorView.h"
#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::KeyboardEventInfo;
using testing::AppHarness;
using testing::TestWindow;

constexpr std::uint64_t kCommand = platform::eventModifierFlagCommand;
constexpr std::uint64_t kShift = platform::eventModifierFlagShift;
constexpr std::uint64_t kOption = platform::eventModifierFlagOption;
constexpr std::uint64_t kControl = platform::eventModifierFlagControl;

KeyboardEventInfo keyDown(std::uint16_t keyCode, std::uint64_t flags = 0) {
    return {KeyboardEventInfo::Type::KeyDown, keyCode, flags};
}

KeyboardEventInfo flagsChanged(std::uint16_t keyCode, std::uint64_t flags) {
    return {KeyboardEventInfo::Type::FlagsChanged, keyCode, flags};
}

class ShortcutRecorderTest : public ::testing::Test {
  protected:
    ShortcutRecorderTest() {
        manager =
            std::make_shared<HotkeyManager>(test.hotKeys, test.keyboardLayout, test.defaults,
                                            test.queue, std::weak_ptr<HotkeyManagerDelegate>());
        view = std::make_shared<ShortcutEditorView>(
            manager->hotKeyCode(), manager->hotKeyModifiers(),
            [this](std::uint16_t code, std::uint32_t mask) {
                return manager->shortcutDisplayString(code, mask);
            },
            [this](std::uint16_t code, std::uint32_t mask) {
                calls.push_back("changed " + std::to_string(code) + " " + std::to_string(mask));
            },
            [this] { calls.push_back("cancel"); }, [this] { calls.push_back("save"); });
        view->setOnChange([this] { ++renders; });
    }

    testing::TestPlatform test;
    std::shared_ptr<HotkeyManager> manager;
    std::shared_ptr<ShortcutEditorView> view;
    std::vector<std::string> calls;
    int renders = 0;
};

TEST_F(ShortcutRecorderTest, ShowsTheShortcutInForceAndPassesEventsWhenIdle) {
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->currentShortcutDisplay(), "⌘⇧P");
    EXPECT_EQ(view->capturedKeyCode(), 35);
    EXPECT_EQ(view->capturedModifiers(), 0x0300u);
    EXPECT_FALSE(view->handleKeyboardEvent(keyDown(40, kCommand)));
    EXPECT_EQ(view->capturedKeyCode(), 35);
    EXPECT_EQ(renders, 0);
}

TEST_F(ShortcutRecorderTest, ModifiersAloneKeepRecordingUntilAKeyCompletesTheCombination) {
    view->startRecording();
    EXPECT_TRUE(view->isRecording());
    EXPECT_EQ(renders, 1);

    EXPECT_TRUE(view->handleKeyboardEvent(flagsChanged(56, kShift)));
    EXPECT_TRUE(view->handleKeyboardEvent(flagsChanged(55, kShift | kCommand)));
    EXPECT_TRUE(view->isRecording());
    EXPECT_TRUE(view->handleKeyboardEvent(keyDown(40)));  // K alone: swallowed, ignored
    EXPECT_TRUE(view->isRecording());
    EXPECT_EQ(view->currentShortcutDisplay(), "⌘⇧P");

    EXPECT_TRUE(view->handleKeyboardEvent(keyDown(40, kShift | kCommand)));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->capturedKeyCode(), 40);
    EXPECT_EQ(view->capturedModifiers(), 0x0300u);
    EXPECT_EQ(view->currentShortcutDisplay(), "⌘⇧K");
    EXPECT_EQ(renders, 2);

    // Recording over: the next event reaches the focused control again.
    EXPECT_FALSE(view->handleKeyboardEvent(keyDown(41, kCommand)));
}

TEST_F(ShortcutRecorderTest, EscapeCancelsWithOrWithoutModifiers) {
    for (const std::uint64_t flags : {std::uint64_t{0}, kCommand}) {
        view->startRecording();
        EXPECT_TRUE(view->handleKeyboardEvent(keyDown(53, flags)));
        EXPECT_FALSE(view->isRecording());
        EXPECT_EQ(view->capturedKeyCode(), 35);
        EXPECT_EQ(view->capturedModifiers(), 0x0300u);
        EXPECT_EQ(view->currentShortcutDisplay(), "⌘⇧P");
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(ShortcutRecorderTest, RecordsTheModifierMaskByTheTable) {
    view->startRecording();
    view->handleKeyboardEvent(keyDown(49, kControl | kOption));
    EXPECT_EQ(view->capturedKeyCode(), 49);
    EXPECT_EQ(view->capturedModifiers(), 0x1800u);
    EXPECT_EQ(view->currentShortcutDisplay(), "⌥⌃ ");

    // Function is not a modifier key of the list: with Command held it is the recorded key.
    view->startRecording();
    view->handleKeyboardEvent(flagsChanged(63, kCommand | platform::eventModifierFlagFunction));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->capturedKeyCode(), 63);
    EXPECT_EQ(view->capturedModifiers(), 0x0100u);
    EXPECT_EQ(view->currentShortcutDisplay(), "⌘?(63)");

    // Caps Lock (57) with Shift held is a modifier key; its flag never enters a mask.
    view->startRecording();
    view->handleKeyboardEvent(flagsChanged(57, kShift | platform::eventModifierFlagCapsLock));
    EXPECT_TRUE(view->isRecording());
    for (std::uint16_t modifierKey = 54; modifierKey <= 62; ++modifierKey) {
        view->handleKeyboardEvent(keyDown(modifierKey, kCommand));
        EXPECT_TRUE(view->isRecording()) << modifierKey;
    }
    view->handleKeyboardEvent(keyDown(
        0, kShift | platform::eventModifierFlagCapsLock | platform::eventModifierFlagNumericPad));
    EXPECT_EQ(view->capturedModifiers(), 0x0200u);
    EXPECT_EQ(view->currentShortcutDisplay(), "⇧A");
}

TEST_F(ShortcutRecorderTest, SaveHandsOverTheCapturedPairThenConfirms) {
    view->save();
    EXPECT_EQ(calls, (std::vector<std::string>{"changed 35 768", "save"}));

    calls.clear();
    view->startRecording();
    view->save();  // disabled while recording
    EXPECT_TRUE(calls.empty());
    view->handleKeyboardEvent(keyDown(40, kControl));
    view->save();
    view->cancel();
    EXPECT_EQ(calls, (std::vector<std::string>{"changed 40 4096", "save", "cancel"}));
}

TEST_F(ShortcutRecorderTest, SaveSurvivesItsCallbacksReleasingTheView) {
    // The window that owns the model is closed and released by the callbacks.
    std::shared_ptr<ShortcutEditorView> owned;
    bool saved = false;
    owned = std::make_shared<ShortcutEditorView>(
        1, 0x0100, nullptr, [&owned](std::uint16_t, std::uint32_t) { owned.reset(); }, [] {},
        [&saved] { saved = true; });
    auto* raw = owned.get();
    raw->save();
    EXPECT_TRUE(saved);
    EXPECT_EQ(owned, nullptr);
}

// --- The editor window ------------------------------------------------------------------------

class ShortcutEditorTest : public ::testing::Test {
  protected:
    std::shared_ptr<TestWindow> open() {
        harness.delegate().showShortcutEditor();
        return harness.test.windows.windows.back();
    }

    AppHarness harness;
};

TEST_F(ShortcutEditorTest, OpensATitledClosableCentredFloatingWindow) {
    harness.launch();
    auto window = open();
    EXPECT_EQ(window->title, "Edit Shortcut");
    EXPECT_EQ(window->frame().size, (platform::Size{320, 200}));
    EXPECT_EQ(window->frame().origin, (platform::Point{560, 337.5}));
    EXPECT_TRUE(window->style.titled);
    EXPECT_TRUE(window->style.closable);
    EXPECT_FALSE(window->style.miniaturizable);
    EXPECT_FALSE(window->style.resizable);
    EXPECT_EQ(window->level, 8);
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), window);
    EXPECT_EQ(window->model->currentShortcutDisplay(), "⌘⇧P");

    harness.test.screens.visibleFrame.reset();
    EXPECT_EQ(open()->frame().origin, (platform::Point{0, 0}));
}

TEST_F(ShortcutEditorTest, SaveReRegistersPersistsClosesAndConfirms) {
    harness.launch();
    auto window = open();
    harness.test.hotKeys.calls.clear();
    window->model->startRecording();
    window->model->handleKeyboardEvent(keyDown(40, kCommand | kShift));
    window->model->save();

    EXPECT_EQ(harness.test.hotKeys.calls,
              (std::vector<std::string>{"unregisterHotKey", "removeEventHandler",
                                        "installEventHandler", "registerHotKey 40 768"}));
    EXPECT_EQ(harness.test.defaults.integerForKey("HotkeyCode"), 40);
    EXPECT_EQ(harness.test.defaults.integerForKey("HotkeyModifiers"), 0x0300);
    EXPECT_EQ(harness.delegate().hotkeyManager()->shortcutDisplayString(), "⌘⇧K");
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), nullptr);

    harness.test.queue.runUntilIdle();
    ASSERT_FALSE(harness.test.alerts.shown.empty());
    const auto& notice = harness.test.alerts.shown.back().request;
    EXPECT_EQ(notice.messageText, "Shortcut Updated");
    EXPECT_EQ(notice.informativeText, "Your new shortcut has been saved successfully.");
    EXPECT_EQ(notice.style, platform::AlertStyle::Informational);
}

TEST_F(ShortcutEditorTest, FailedRegistrationOnSaveWarnsBeforeTheConfirmation) {
    harness.launch();
    auto window = open();
    harness.test.hotKeys.registerStatus = -9878;
    window->model->save();  // nothing recorded: the pair in force is handed over again
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.alerts.titles(),
              (std::vector<std::string>{"Hotkey Error", "Shortcut Updated"}));
    EXPECT_EQ(harness.test.defaults.integerForKey("HotkeyCode"), 35);
}

TEST_F(ShortcutEditorTest, CancelAndTheCloseButtonChangeNothing) {
    harness.launch();
    auto first = open();
    first->close();  // the title bar's close button: no callback runs
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), first);

    auto second = open();
    auto third = open();  // replaces the reference without closing the earlier window
    EXPECT_TRUE(second->visible);
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), third);

    // Callbacks act on the window referenced when they run.
    second->model->cancel();
    EXPECT_FALSE(third->visible);
    EXPECT_TRUE(second->visible);
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), nullptr);

    harness.test.queue.runUntilIdle();
    EXPECT_TRUE(harness.test.alerts.shown.empty());
    EXPECT_FALSE(harness.test.defaults.contains("HotkeyCode"));
}

TEST(ShortcutEditorLifetime, CallbacksDoNothingOnceTheDelegateIsGone) {
    testing::TestPlatform test;
    testing::LogCapture log;
    auto delegate =
        std::make_shared<AppDelegate>(test.platform, test.hud, testing::testEndpoints());
    delegate->applicationDidFinishLaunching();
    test.queue.runUntilIdle();
    delegate->showShortcutEditor();
    auto window = test.windows.windows.back();
    delegate.reset();

    test.hotKeys.calls.clear();
    window->model->save();
    window->model->cancel();
    test.queue.runUntilIdle();
    EXPECT_TRUE(test.hotKeys.calls.empty());
    EXPECT_TRUE(window->visible);
    EXPECT_TRUE(test.alerts.shown.empty());
}

}  // namespace
}  // namespace velmora
