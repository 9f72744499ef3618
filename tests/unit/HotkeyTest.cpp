#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "hotkey/ShortcutEditorView.h"
#include "hotkey/StoredShortcut.h"
#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::BindStatus;
using platform::Key;
using platform::KeyPress;
using platform::Modifier;
using platform::Shortcut;
using testing::AppHarness;

constexpr Key kK{37};
constexpr Key kSpace{57};
constexpr Key kLeftShift{42};
constexpr Key kLeftControl{29};
constexpr Key kCapsLock{58};

// Stored key codes name these keys in every release that wrote them.
TEST(StoredShortcut, StoredKeyCodesNameTheirKeys) {
    // A sample across the table's kinds of keys: letters, digits, punctuation, keypad, function
    // and navigation keys, and the modifiers.
    const std::pair<std::uint16_t, int> keys[] = {
        {0, KEY_A},         {8, KEY_C},          {10, KEY_102ND},   {18, KEY_1},     {29, KEY_0},
        {35, KEY_P},        {41, KEY_SEMICOLON}, {49, KEY_SPACE},   {50, KEY_GRAVE}, {53, KEY_ESC},
        {55, KEY_LEFTCTRL}, {59, KEY_LEFTMETA},  {76, KEY_KPENTER}, {92, KEY_KP9},   {99, KEY_F3},
        {111, KEY_F12},     {114, KEY_INSERT},   {126, KEY_UP}};
    for (const auto& [code, position] : keys) {
        const Shortcut shortcut{Key{static_cast<std::uint16_t>(position)}, {}};
        EXPECT_EQ(StoredShortcut({code, 0}).shortcut(), shortcut) << code;
        EXPECT_EQ(StoredShortcut::from(shortcut).keyCode, code) << code;
    }
}

TEST(StoredShortcut, ConvertsBothWaysAndKeepsKeysWithoutAStoredCode) {
    EXPECT_EQ(kDefaultStoredShortcut.shortcut(),
              (Shortcut{platform::keys::P, Modifier::Control | Modifier::Shift}));
    const Shortcut all{kK, Modifier::Control | Modifier::Shift | Modifier::Alt | Modifier::Super};
    EXPECT_EQ(StoredShortcut::from(all).keyCode, 40);
    EXPECT_EQ(StoredShortcut::from(all).modifiers, 0x1b00u);
    EXPECT_EQ(StoredShortcut::from(all).shortcut(), all);
    // The primary modifier's own keys are the Control keys.
    EXPECT_EQ((StoredShortcut{55, 0}.shortcut()->key), kLeftControl);
    const Shortcut f13{Key{183}, Modifier::Control};
    EXPECT_EQ(StoredShortcut::from(f13).shortcut(), f13);
    EXPECT_FALSE((StoredShortcut{63, 0x0100}.shortcut()));
}

TEST(HotkeyManager, ReadsTheStoredPairUnlessBothZeroOrOutOfRange) {
    const std::int64_t cases[][2] = {{0, 0x0100}, {35, 0},      {65536, 0x0100}, {-1, 0x0100},
                                     {40, -1},    {63, 0x0100}, {0, 0}};
    const char* expected[] = {"⌘A", "P", "⌘⇧P", "⌘⇧P", "⌘⇧P", "⌘⇧P", "⌘⇧P"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        AppHarness h;
        h.test.defaults.setInteger("HotkeyCode", cases[i][0]);
        h.test.defaults.setInteger("HotkeyModifiers", cases[i][1]);
        h.launch();
        EXPECT_EQ(h.delegate().hotkeyManager().shortcutDisplayString(), expected[i]) << i;
    }
}

TEST(HotkeyManager, DisplayStringsFollowTheLayout) {
    AppHarness h;
    const HotkeyManager& manager = h.launch().hotkeyManager();
    EXPECT_EQ(
        manager.shortcutDisplayString({platform::keys::P, Modifier::Super | Modifier::Alt |
                                                              Modifier::Shift | Modifier::Control}),
        "⌘⇧⌥⌃P");
    EXPECT_EQ(manager.shortcutDisplayString({kSpace, Modifier::Alt | Modifier::Super}), "⌥⌃ ");
    EXPECT_EQ(manager.shortcutDisplayString({Key{39}, {}}), "SS");  // Unicode upper case
    EXPECT_EQ(manager.shortcutDisplayString({Key{105}, Modifier::Control}), "⌘?(123)");
}

TEST(HotkeyManager, ATakenShortcutWarnsAndASystemNameIsShown) {
    AppHarness h;
    h.test.desktop.bindResult = {BindStatus::Taken, "held by another program", std::nullopt};
    h.launch();
    EXPECT_TRUE(h.log.contains("Failed to register hotkey: -9878"));
    ASSERT_EQ(h.test.alerts.titles(), std::vector<std::string>{"Hotkey Error"});
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Could not register global hotkey (⌘⇧P). Another app might be using it.");
    EXPECT_EQ(h.test.alerts.shown[0].request.style, platform::AlertStyle::Critical);

    AppHarness portal;
    portal.test.desktop.bindResult = {BindStatus::Bound, "", "Ctrl+Shift+P"};
    portal.launch();
    EXPECT_TRUE(portal.log.contains("Carbon hotkey registered successfully (Ctrl+Shift+P)."));
    portal.choose("About Velmora");
    EXPECT_EQ(portal.test.alerts.shown[0].request.message,
              "Velmora\n\nCurrent style: Default\nShortcut: Ctrl+Shift+P");
}

class ShortcutEditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        h.launch();
        h.choose("Edit shortcut");
        window = h.test.windows.editor;
        ASSERT_NE(window, nullptr);
        view = dynamic_cast<ShortcutEditorView*>(&window->model);
    }
    bool press(Key key, platform::Modifiers modifiers = {}) {
        return view->handleKeyPress(KeyPress{key, modifiers});
    }
    AppHarness h;
    testing::FakeWindow* window = nullptr;
    ShortcutEditorView* view = nullptr;
};

TEST_F(ShortcutEditorTest, RecordsOnlyCompleteCombinations) {
    EXPECT_EQ(window->title, "Edit Shortcut");
    EXPECT_EQ(window->frame, (platform::Rect{{560, 337.5}, {320, 200}}));
    EXPECT_TRUE(window->floating && window->visible);
    EXPECT_EQ(view->currentShortcutDisplay(), "⌘⇧P");
    EXPECT_FALSE(press(kK, Modifier::Control)) << "not recording: keys pass through";

    view->startRecording();
    EXPECT_TRUE(press(kLeftShift, Modifier::Shift));
    EXPECT_TRUE(press(kLeftControl, Modifier::Shift | Modifier::Control));
    EXPECT_TRUE(press(kK));  // no modifier: swallowed, ignored
    EXPECT_TRUE(press(kCapsLock, Modifier::Shift));
    EXPECT_TRUE(view->isRecording());
    EXPECT_TRUE(press(kK, Modifier::Shift | Modifier::Control));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->currentShortcutDisplay(), "⌘⇧K");

    // Escape, bare or with a modifier, stops recording and keeps what was captured.
    view->startRecording();
    EXPECT_TRUE(press(platform::keys::Escape, Modifier::Control));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->captured(), (Shortcut{kK, Modifier::Shift | Modifier::Control}));
}

TEST_F(ShortcutEditorTest, SaveRebindsPersistsClosesAndConfirms) {
    view->startRecording();
    view->save();  // disabled while recording
    EXPECT_TRUE(window->visible);
    press(kSpace, Modifier::Alt | Modifier::Super);
    h.test.desktop.bindResult = {BindStatus::Taken, "", std::nullopt};
    view->save();
    EXPECT_EQ(h.test.defaults.integerForKey("HotkeyCode"), 49);
    EXPECT_EQ(h.test.defaults.integerForKey("HotkeyModifiers"), 0x1800);
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(h.delegate().shortcutEditor().shortcutEditorWindow(), nullptr);
    h.run();
    EXPECT_EQ(h.test.alerts.titles(),
              (std::vector<std::string>{"Hotkey Error", "Shortcut Updated"}));
    EXPECT_EQ(h.test.alerts.shown[1].request.message,
              "Your new shortcut has been saved successfully.");

    // Saving the shortcut in force binds it again.
    h.test.desktop.bindResult = {};
    h.choose("Edit shortcut");
    h.test.windows.editor->model.save();
    EXPECT_EQ(h.test.desktop.bound, (Shortcut{kSpace, Modifier::Alt | Modifier::Super}));
}

TEST_F(ShortcutEditorTest, CancelChangesNothingAndReopeningReplacesTheWindow) {
    view->cancel();
    EXPECT_FALSE(window->visible);
    h.run();
    EXPECT_TRUE(h.test.alerts.shown.empty());
    EXPECT_FALSE(h.test.defaults.values.contains("HotkeyCode"));

    h.choose("Edit shortcut");
    h.choose("Edit shortcut");
    EXPECT_EQ(h.delegate().shortcutEditor().shortcutEditorWindow(), h.test.windows.editor);
}

}  // namespace
}  // namespace velmora
