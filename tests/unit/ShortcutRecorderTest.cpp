#include <gtest/gtest.h>

#include "hotkey/ShortcutEditorView.h"
#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::KeyboardEventInfo;

constexpr std::uint64_t kCommand = platform::eventModifierFlagCommand;
constexpr std::uint64_t kShift = platform::eventModifierFlagShift;
constexpr std::uint64_t kOption = platform::eventModifierFlagOption;
constexpr std::uint64_t kControl = platform::eventModifierFlagControl;

KeyboardEventInfo key(std::uint16_t keyCode, std::uint64_t flags = 0) {
    return {KeyboardEventInfo::Type::KeyDown, keyCode, flags};
}

KeyboardEventInfo flags(std::uint16_t keyCode, std::uint64_t flags) {
    return {KeyboardEventInfo::Type::FlagsChanged, keyCode, flags};
}

// Records one event while recording; returns what the box then shows.
std::string record(ShortcutEditorView& view, const KeyboardEventInfo& event) {
    view.startRecording();
    EXPECT_TRUE(view.handleKeyboardEvent(event));
    return view.currentShortcutDisplay();
}

class ShortcutRecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        harness.launch();
        harness.delegate().showShortcutEditor();
        window = harness.test.windows.windows.back();
        view = std::dynamic_pointer_cast<ShortcutEditorView>(window->model);
        ASSERT_NE(view, nullptr);
        harness.test.hotKeys.calls.clear();
    }
    testing::AppHarness harness;
    std::shared_ptr<testing::TestWindow> window;
    std::shared_ptr<ShortcutEditorView> view;
};

TEST_F(ShortcutRecorderTest, RecordsOnlyCompleteCombinations) {
    EXPECT_EQ(view->currentShortcutDisplay(), "⌘⇧P");
    EXPECT_FALSE(view->handleKeyboardEvent(key(40, kCommand)));  // not recording: passes through

    view->startRecording();
    EXPECT_TRUE(view->handleKeyboardEvent(flags(56, kShift)));
    EXPECT_TRUE(view->handleKeyboardEvent(flags(55, kShift | kCommand)));
    EXPECT_TRUE(view->handleKeyboardEvent(key(40)));  // K alone: swallowed, ignored
    EXPECT_TRUE(view->isRecording());
    EXPECT_TRUE(view->handleKeyboardEvent(key(40, kShift | kCommand)));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->currentShortcutDisplay(), "⌘⇧K");

    // Escape, bare or with Command, stops recording and keeps what was captured.
    EXPECT_EQ(record(*view, key(53)), "⌘⇧K");
    EXPECT_EQ(record(*view, key(53, kCommand)), "⌘⇧K");
    EXPECT_FALSE(view->isRecording());

    EXPECT_EQ(record(*view, key(49, kControl | kOption)), "⌥⌃ ");
    EXPECT_EQ(view->capturedKeyCode(), 49);
    EXPECT_EQ(view->capturedModifiers(), 0x1800u);

    // Function is no modifier key: with Command held it is the key recorded.
    EXPECT_EQ(record(*view, flags(63, kCommand | platform::eventModifierFlagFunction)), "⌘?(63)");

    // Caps Lock (57) is a modifier key, and its flag never enters the mask.
    const std::uint64_t capsShift = kShift | platform::eventModifierFlagCapsLock;
    record(*view, flags(57, capsShift));
    EXPECT_TRUE(view->isRecording());
    EXPECT_TRUE(view->handleKeyboardEvent(key(0, capsShift)));
    EXPECT_EQ(view->capturedModifiers(), 0x0200u);
}

TEST_F(ShortcutRecorderTest, EditorWindowIsTitledClosableCentredAndFloating) {
    EXPECT_EQ(window->title, "Edit Shortcut");
    EXPECT_EQ(window->frame(), (platform::Rect{{560, 337.5}, {320, 200}}));
    EXPECT_TRUE(window->style.titled && window->style.closable);
    EXPECT_FALSE(window->style.miniaturizable || window->style.resizable);
    EXPECT_EQ(window->level, 8);
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), window);

    harness.test.screens.visibleFrame.reset();
    harness.delegate().showShortcutEditor();
    EXPECT_EQ(harness.test.windows.windows.back()->frame().origin, (platform::Point{0, 0}));
}

TEST_F(ShortcutRecorderTest, SaveReRegistersPersistsClosesAndConfirms) {
    view->startRecording();
    view->save();  // disabled while recording
    EXPECT_TRUE(harness.test.hotKeys.calls.empty());

    view->handleKeyboardEvent(key(40, kCommand | kShift));
    harness.test.hotKeys.registerStatus = -9878;
    view->save();
    EXPECT_EQ(harness.test.hotKeys.calls.back(), "registerHotKey 40 768");
    EXPECT_EQ(harness.test.defaults.integerForKey("HotkeyCode"), 40);
    EXPECT_EQ(harness.test.defaults.integerForKey("HotkeyModifiers"), 0x0300);
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), nullptr);

    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.alerts.titles(),
              (std::vector<std::string>{"Hotkey Error", "Shortcut Updated"}));
    const auto& notice = harness.test.alerts.shown.back().request;
    EXPECT_EQ(notice.informativeText, "Your new shortcut has been saved successfully.");
    EXPECT_EQ(notice.style, platform::AlertStyle::Informational);
}

TEST_F(ShortcutRecorderTest, CancelAndCloseChangeNothing) {
    harness.delegate().showShortcutEditor();
    auto newer = harness.test.windows.windows.back();
    EXPECT_TRUE(window->visible) << "an earlier editor is replaced, not closed";
    newer->close();  // the title bar's button: no callback runs
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), newer);

    // The first window's Cancel acts on the window referenced now.
    view->cancel();
    EXPECT_EQ(newer->closes, 2);
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(harness.delegate().shortcutEditorWindow(), nullptr);

    harness.test.queue.runUntilIdle();
    EXPECT_TRUE(harness.test.alerts.shown.empty());
    EXPECT_TRUE(harness.test.hotKeys.calls.empty());
    EXPECT_FALSE(harness.test.defaults.contains("HotkeyCode"));
}

}  // namespace
}  // namespace velmora
