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
TEST(StoredShortcut, EveryStoredKeyCodeNamesItsKey) {
    const std::pair<std::uint16_t, int> keys[] = {
        {0, KEY_A},          {1, KEY_S},          {2, KEY_D},           {3, KEY_F},
        {4, KEY_H},          {5, KEY_G},          {6, KEY_Z},           {7, KEY_X},
        {8, KEY_C},          {9, KEY_V},          {10, KEY_102ND},      {11, KEY_B},
        {12, KEY_Q},         {13, KEY_W},         {14, KEY_E},          {15, KEY_R},
        {16, KEY_Y},         {17, KEY_T},         {18, KEY_1},          {19, KEY_2},
        {20, KEY_3},         {21, KEY_4},         {22, KEY_6},          {23, KEY_5},
        {24, KEY_EQUAL},     {25, KEY_9},         {26, KEY_7},          {27, KEY_MINUS},
        {28, KEY_8},         {29, KEY_0},         {30, KEY_RIGHTBRACE}, {31, KEY_O},
        {32, KEY_U},         {33, KEY_LEFTBRACE}, {34, KEY_I},          {35, KEY_P},
        {36, KEY_ENTER},     {37, KEY_L},         {38, KEY_J},          {39, KEY_APOSTROPHE},
        {40, KEY_K},         {41, KEY_SEMICOLON}, {42, KEY_BACKSLASH},  {43, KEY_COMMA},
        {44, KEY_SLASH},     {45, KEY_N},         {46, KEY_M},          {47, KEY_DOT},
        {48, KEY_TAB},       {49, KEY_SPACE},     {50, KEY_GRAVE},      {51, KEY_BACKSPACE},
        {53, KEY_ESC},       {54, KEY_RIGHTCTRL}, {55, KEY_LEFTCTRL},   {56, KEY_LEFTSHIFT},
        {57, KEY_CAPSLOCK},  {58, KEY_LEFTALT},   {59, KEY_LEFTMETA},   {60, KEY_RIGHTSHIFT},
        {61, KEY_RIGHTALT},  {62, KEY_RIGHTMETA}, {65, KEY_KPDOT},      {67, KEY_KPASTERISK},
        {69, KEY_KPPLUS},    {71, KEY_NUMLOCK},   {75, KEY_KPSLASH},    {76, KEY_KPENTER},
        {78, KEY_KPMINUS},   {81, KEY_KPEQUAL},   {82, KEY_KP0},        {83, KEY_KP1},
        {84, KEY_KP2},       {85, KEY_KP3},       {86, KEY_KP4},        {87, KEY_KP5},
        {88, KEY_KP6},       {89, KEY_KP7},       {91, KEY_KP8},        {92, KEY_KP9},
        {96, KEY_F5},        {97, KEY_F6},        {98, KEY_F7},         {99, KEY_F3},
        {100, KEY_F8},       {101, KEY_F9},       {103, KEY_F11},       {109, KEY_F10},
        {111, KEY_F12},      {114, KEY_INSERT},   {115, KEY_HOME},      {116, KEY_PAGEUP},
        {117, KEY_DELETE},   {118, KEY_F4},       {119, KEY_END},       {120, KEY_F2},
        {121, KEY_PAGEDOWN}, {122, KEY_F1},       {123, KEY_LEFT},      {124, KEY_RIGHT},
        {125, KEY_DOWN},     {126, KEY_UP}};
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
    const char* expected[] = {
        "Ctrl+A",       "P",           "Ctrl+Shift+P", "Ctrl+Shift+P", "Ctrl+Shift+P",
        "Ctrl+Shift+P", "Ctrl+Shift+P"};
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
        "Ctrl+Shift+Alt+Super+P");
    EXPECT_EQ(manager.shortcutDisplayString({kSpace, Modifier::Alt | Modifier::Super}),
              "Alt+Super+ ");
    EXPECT_EQ(manager.shortcutDisplayString({Key{39}, {}}), "SS");  // Unicode upper case
    EXPECT_EQ(manager.shortcutDisplayString({Key{105}, Modifier::Control}), "Ctrl+?(123)");
}

TEST(HotkeyManager, ATakenShortcutWarnsAndASystemNameIsShown) {
    AppHarness h;
    h.test.desktop.bindResult = {BindStatus::Taken, "held by another program", std::nullopt};
    h.launch();
    EXPECT_TRUE(h.log.contains("Failed to register hotkey: -9878"));
    ASSERT_EQ(h.test.alerts.titles(), std::vector<std::string>{"Hotkey Error"});
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Could not register global hotkey (Ctrl+Shift+P). Another app might be using it.");
    EXPECT_EQ(h.test.alerts.shown[0].request.style, platform::AlertStyle::Critical);

    // A key of the desktop's own runs the trigger command: the log says so, nothing else.
    AppHarness desktopKey;
    desktopKey.test.desktop.bindResult = {BindStatus::BoundByDesktop, "Bound by the desktop.",
                                          std::nullopt};
    desktopKey.launch();
    EXPECT_TRUE(desktopKey.log.contains("Bound by the desktop."));
    EXPECT_TRUE(desktopKey.test.alerts.shown.empty());

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
        // The desktop names the shortcut in its own words.
        h.test.desktop.bindResult = {BindStatus::Bound, "", "Shift+Ctrl+P"};
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
    EXPECT_EQ(view->currentShortcutDisplay(), "Ctrl+Shift+P");
    EXPECT_FALSE(press(kK, Modifier::Control)) << "not recording: keys pass through";

    view->startRecording();
    EXPECT_TRUE(press(kLeftShift, Modifier::Shift));
    EXPECT_TRUE(press(kLeftControl, Modifier::Shift | Modifier::Control));
    EXPECT_TRUE(press(kK));  // no modifier: swallowed, ignored
    EXPECT_TRUE(press(kCapsLock, Modifier::Shift));
    EXPECT_TRUE(view->isRecording());
    EXPECT_TRUE(press(kK, Modifier::Shift | Modifier::Control));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->currentShortcutDisplay(), "Ctrl+Shift+K");

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
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Could not register global hotkey (Alt+Super+ ). Another app might be using it.")
        << "the desktop's name for the old shortcut is gone";
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
