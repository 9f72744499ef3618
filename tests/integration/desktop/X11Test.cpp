// The X11 services against a real Xvfb (tests/support/run-in-session.sh), driven by xdotool.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QLineEdit>

#include "DesktopTestSupport.h"
#include "platform/linux/X11Clipboard.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11GlobalShortcuts.h"
#include "platform/linux/X11KeyNames.h"
#include "platform/linux/XTestKeystrokes.h"

// Xlib's macros (None, Status, Bool) clash with Qt and gtest names: its headers come last.
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace velmora::desktop {
namespace {

using namespace testing;
using platform::BindStatus;
using platform::Modifier;

constexpr xcb_keycode_t kKeyP = 33;
constexpr std::uint16_t kCtrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
const platform::Shortcut kCtrlShiftP{platform::keys::P, Modifier::Control | Modifier::Shift};

// Another program's connection: whether it can grab Ctrl+Shift+P with these lock modifiers.
bool othersCanGrab(std::uint16_t locks) {
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    xcb_generic_error_t* error =
        xcb_request_check(other, xcb_grab_key_checked(other, 0, root, kCtrlShift | locks, kKeyP,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    free(error);
    xcb_disconnect(other);
    return error == nullptr;
}

// The tests' own connection, for XTest presses, the key states and the layout group.
Display* display() {
    static X11Connection connection;
    return connection.display();
}

bool keyDown(KeySym sym) {
    char keys[32];
    XQueryKeymap(display(), keys);
    const KeyCode code = XKeysymToKeycode(display(), sym);
    return (keys[code / 8] >> (code % 8)) & 1;
}

// The shortcut fires for its combination whatever lock is on, once per press however long the
// keys are held (the server repeats the press); destroying the binding gives every lock variant
// back. A combination another program holds is taken.
TEST(X11, ShortcutFiresOncePerPressAndIsTakenWhenHeldElsewhere) {
    X11GlobalShortcuts shortcuts;
    int presses = 0;
    platform::BindResult result;
    const auto outcome = [&](const platform::BindResult& r) { result = r; };
    auto binding = shortcuts.bind(
        kCtrlShiftP, [&] { ++presses; }, outcome);
    ASSERT_EQ(result.status, BindStatus::Bound);

    ASSERT_TRUE(xdotool({"key", "ctrl+p", "shift+p", "ctrl+alt+shift+p", "ctrl+shift+p"}));
    ASSERT_TRUE(waitUntil([&] { return presses == 1; }));
    for (const char* lock : {"Caps_Lock", "Num_Lock", "Caps_Lock", "Num_Lock"}) {
        ASSERT_TRUE(xdotool({"key", lock, "ctrl+shift+p"}));
        EXPECT_TRUE(waitUntil([&] { return presses == 2; })) << lock;
        presses = 1;
    }

    ASSERT_TRUE(xdotool({"keydown", "ctrl+shift+p"}));
    ASSERT_TRUE(waitUntil([&] { return presses == 2; }));
    for (int i = 0; i < 3; ++i) {
        XTestFakeKeyEvent(display(), kKeyP, True, CurrentTime);
        XSync(display(), False);
        waitUntil([] { return false; }, 100);
    }
    EXPECT_EQ(presses, 2);
    ASSERT_TRUE(xdotool({"keyup", "p"}));
    waitUntil([] { return false; }, 100);
    ASSERT_TRUE(xdotool({"key", "p"}));
    EXPECT_TRUE(waitUntil([&] { return presses == 3; }));
    ASSERT_TRUE(xdotool({"keyup", "ctrl+shift"}));

    const std::uint16_t lockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                          XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    for (const std::uint16_t locks : lockVariants) {
        EXPECT_FALSE(othersCanGrab(locks)) << locks;
    }
    binding.reset();
    for (const std::uint16_t locks : lockVariants) {
        EXPECT_TRUE(othersCanGrab(locks)) << locks;
    }

    // Held by another program, even in one lock variant only: taken, and nothing of it kept.
    xcb_connection_t* holder = xcb_connect(nullptr, nullptr);
    xcb_grab_key(holder, 0, xcb_setup_roots_iterator(xcb_get_setup(holder)).data->root,
                 kCtrlShift | XCB_MOD_MASK_LOCK, kKeyP, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    free(xcb_get_input_focus_reply(holder, xcb_get_input_focus(holder), nullptr));
    binding = shortcuts.bind(
        kCtrlShiftP, [] {}, outcome);
    EXPECT_EQ(result.status, BindStatus::Taken);
    EXPECT_FALSE(result.message.empty());
    EXPECT_TRUE(othersCanGrab(0));
    xcb_disconnect(holder);
}

// With the user still holding the shortcut's Ctrl+Shift (a target seeing Ctrl+Shift+C copies
// nothing), Copy and Paste work, and the server has Ctrl and Shift down again afterwards; keys the
// user lets go of meanwhile stay up. Without an X11 session nothing can be sent, and the user is
// told why.
TEST(X11, CopyAndPasteWhileTheUserStillHoldsTheShortcut) {
    X11Clipboard clipboard;
    XTestKeystrokes keystrokes(std::make_shared<X11Connection>(), &clipboard, TerminalWindows({}));
    EXPECT_TRUE(keystrokes.permission(false).available);

    QLineEdit target;
    target.setText("the selected line");
    target.selectAll();
    target.show();
    ASSERT_TRUE(waitUntil([&] { return target.isVisible(); }));
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", QString::number(target.winId())}));
    ASSERT_TRUE(waitUntil([&] { return target.hasFocus(); }));
    ASSERT_TRUE(xdotool({"keydown", "ctrl+shift"}));

    keystrokes.send(platform::Keystroke::Copy);
    EXPECT_TRUE(waitUntil([&] { return clipboard.text() == "the selected line"; }));
    EXPECT_EQ(run("xclip", {"-o", "-selection", "clipboard"}).output, "the selected line");
    clipboard.setText("the answer");
    keystrokes.send(platform::Keystroke::Paste);
    EXPECT_TRUE(waitUntil([&] { return target.text() == QStringLiteral("the answer"); }));
    EXPECT_TRUE(keyDown(XK_Control_L));
    EXPECT_TRUE(keyDown(XK_Shift_L));
    ASSERT_TRUE(xdotool({"keyup", "ctrl+shift"}));

    // A quick press: the user lets go while the keystroke is out, and nothing stays down.
    X11GlobalShortcuts shortcuts;
    int copies = 0;
    const auto copy = [&] {
        keystrokes.send(platform::Keystroke::Copy);
        ++copies;
    };
    const auto binding = shortcuts.bind(kCtrlShiftP, copy, [](const platform::BindResult&) {});
    QProcess user;
    user.start("xdotool", {"key", "ctrl+shift+p"});
    ASSERT_TRUE(waitUntil([&] { return copies == 1 && user.state() == QProcess::NotRunning; }));
    EXPECT_FALSE(keyDown(XK_Control_L));
    EXPECT_FALSE(keyDown(XK_Shift_L));
}

// Keys fail, and the program goes on, on a server without XTEST and once the server is gone.
TEST(X11, KeystrokesFailWithoutXTestOrDisplay) {
    QProcess server;
    server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-extension", "XTEST"});
    ASSERT_TRUE(waitUntil([&] { return server.canReadLine(); }));
    const QByteArray ours = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":" + server.readLine().trimmed());
    auto connection = std::make_shared<X11Connection>();
    ASSERT_NE(connection->display(), nullptr);
    qputenv("DISPLAY", ours);
    XTestKeystrokes keystrokes(connection, nullptr, TerminalWindows({}));
    const auto failed = platform::KeystrokeResult::Outcome::Failed;
    EXPECT_EQ(keystrokes.send(platform::Keystroke::Copy).outcome, failed);
    server.kill();
    server.waitForFinished();
    EXPECT_EQ(keystrokes.send(platform::Keystroke::Paste).outcome, failed);
}

TEST(X11, KeyNamesFollowTheLayout) {
    X11KeyNames names(std::make_shared<X11Connection>());
    const auto name = [&](std::uint16_t position) { return names.keyName({position}); };
    EXPECT_EQ(name(25), "p");
    EXPECT_EQ(name(2), "1");
    EXPECT_EQ(name(103), std::nullopt) << "the Up arrow types nothing";
    EXPECT_EQ(name(42), std::nullopt) << "nor does Shift";
    EXPECT_EQ(names.modifierGlyph(Modifier::Super), "Super+");

    // The same positions under a German layout, and under the second group of a two-layout map.
    ASSERT_EQ(run("setxkbmap", {"de"}).exitCode, 0);
    EXPECT_EQ(name(21), "z");
    EXPECT_EQ(name(39), "ö");
    ASSERT_EQ(run("setxkbmap", {"us,ru"}).exitCode, 0);
    ASSERT_TRUE(XkbLockGroup(display(), XkbUseCoreKbd, 1));
    XSync(display(), False);
    EXPECT_EQ(name(25), "з");
    ASSERT_EQ(run("setxkbmap", {"us"}).exitCode, 0);
    EXPECT_EQ(name(25), "p");
}

}  // namespace
}  // namespace velmora::desktop
