// The X11 input services against a real Xvfb (tests/support/run-in-session.sh), driven by xdotool
// and xclip.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <functional>

#include "platform/linux/LinuxServices.h"

// Xlib's macros (None, Status, Bool) clash with Qt and gtest names: its headers come last.
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

namespace velmora::desktop {
namespace {

using platform::ClipboardSnapshot;

constexpr int timeoutMs = 15000;

// Keeps the event loop turning until the condition holds or the time is up.
bool pumpUntil(const std::function<bool()>& condition, int ms = timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

struct ProcessResult {
    int exitCode = -1;
    QByteArray output;
};

// Runs a helper program while the event loop keeps turning: it may ask us for the clipboard.
ProcessResult run(const QString& program, const QStringList& arguments,
                  const QByteArray& input = {}) {
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    ProcessResult result;
    pumpUntil([&] {
        result.output += process.readAllStandardOutput();
        return process.state() == QProcess::NotRunning;
    });
    result.output += process.readAllStandardOutput();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// Puts data on CLIPBOARD from another client; xclip stays behind as its owner. Returns once Qt
// has seen the new owner: only then does its own next claim carry a timestamp the server accepts.
void xclipOwn(const QByteArray& data, const QString& target) {
    int changes = 0;
    const auto connection = QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged,
                                             [&] { ++changes; });
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start("xclip", {"-selection", "clipboard", "-t", target, "-i"});
    ASSERT_TRUE(process.waitForStarted(timeoutMs));
    process.write(data);
    process.closeWriteChannel();
    EXPECT_TRUE(pumpUntil([&] { return process.state() == QProcess::NotRunning; }));
    EXPECT_TRUE(pumpUntil([&] { return changes > 0; }));
    QObject::disconnect(connection);
}

void xdotool(const QStringList& arguments) {
    ASSERT_EQ(run("xdotool", arguments).exitCode, 0) << arguments.join(' ').toStdString();
}

// A second client, to hold or probe grabs the way another program would.
class OtherClient {
  public:
    OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(connection_); }

    bool grab(xcb_keycode_t key, std::uint16_t modifiers) {
        const auto cookie = xcb_grab_key_checked(connection_, 0, root_, modifiers, key,
                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
        free(error);
        return error == nullptr;
    }
    void ungrab(xcb_keycode_t key, std::uint16_t modifiers) {
        xcb_ungrab_key(connection_, key, root_, modifiers);
        xcb_flush(connection_);
    }

  private:
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
};

constexpr xcb_keycode_t xKeyP = 33;
constexpr std::uint16_t ctrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
constexpr std::uint32_t cmdShift = platform::cmdKey | platform::shiftKey;

class X11InputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
        services_ = makeInputServices();
    }
    void TearDown() override {
        services_ = {};
        if (display_ != nullptr)
            XCloseDisplay(display_);
    }

    static platform::HotKeyStatus countPress(void* userData) {
        ++*static_cast<int*>(userData);
        return platform::noErr;
    }

    unsigned int lockedModifiers() {
        XkbStateRec state{};
        XkbGetState(display_, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }

    bool keyDown(KeySym sym) {
        char keys[32];
        XQueryKeymap(display_, keys);
        const KeyCode code = XKeysymToKeycode(display_, sym);
        return (keys[code / 8] >> (code % 8)) & 1;
    }

    Display* display_ = nullptr;
    InputServices services_;
};

TEST_F(X11InputTest, HotKeyFiresForItsCombinationWhateverLockIsOn) {
    int presses = 0;
    platform::PlatformHandle handler = 0;
    platform::PlatformHandle hotKey = 0;
    ASSERT_EQ(services_.hotKeys->installEventHandler(&countPress, &presses, handler), 0);
    ASSERT_EQ(services_.hotKeys->registerHotKey(35, cmdShift, {0x4D4E4457, 1}, hotKey), 0);

    xdotool({"key", "ctrl+shift+p"});
    ASSERT_TRUE(pumpUntil([&] { return presses == 1; }));

    // Other combinations of the key are not the shortcut; the press after them is counted alone.
    xdotool({"key", "ctrl+p", "shift+p", "ctrl+alt+shift+p", "ctrl+shift+p"});
    ASSERT_TRUE(pumpUntil([&] { return presses == 2; }));
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(presses, 2);

    xdotool({"key", "Caps_Lock"});
    ASSERT_TRUE(lockedModifiers() & LockMask);
    xdotool({"key", "ctrl+shift+p"});
    EXPECT_TRUE(pumpUntil([&] { return presses == 3; }));

    xdotool({"key", "Num_Lock"});
    ASSERT_TRUE(lockedModifiers() & Mod2Mask);
    xdotool({"key", "ctrl+shift+p"});
    EXPECT_TRUE(pumpUntil([&] { return presses == 4; }));

    xdotool({"key", "Caps_Lock"});
    ASSERT_FALSE(lockedModifiers() & LockMask);
    xdotool({"key", "ctrl+shift+p"});
    EXPECT_TRUE(pumpUntil([&] { return presses == 5; }));
    xdotool({"key", "Num_Lock"});

    EXPECT_EQ(services_.hotKeys->unregisterHotKey(hotKey), 0);
    EXPECT_EQ(services_.hotKeys->removeEventHandler(handler), 0);
}

TEST_F(X11InputTest, RegistrationTakesEveryLockVariantAndUnregisterGivesThemAllBack) {
    const std::uint16_t variants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                      XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    platform::PlatformHandle hotKey = 0;
    ASSERT_EQ(services_.hotKeys->registerHotKey(35, cmdShift, {0x4D4E4457, 1}, hotKey), 0);

    OtherClient other;
    for (const std::uint16_t variant : variants) {
        EXPECT_FALSE(other.grab(xKeyP, ctrlShift | variant)) << "variant " << variant;
    }
    ASSERT_EQ(services_.hotKeys->unregisterHotKey(hotKey), 0);
    for (const std::uint16_t variant : variants) {
        EXPECT_TRUE(other.grab(xKeyP, ctrlShift | variant)) << "variant " << variant;
        other.ungrab(xKeyP, ctrlShift | variant);
    }
    EXPECT_NE(services_.hotKeys->unregisterHotKey(hotKey), 0);
}

TEST_F(X11InputTest, CombinationHeldByAnotherProgramIsRefusedWithoutTakingAnyVariant) {
    platform::PlatformHandle hotKey = 0;
    {
        OtherClient other;
        // Only the Caps Lock variant is taken: a partial registration must not stay behind.
        ASSERT_TRUE(other.grab(xKeyP, ctrlShift | XCB_MOD_MASK_LOCK));
        EXPECT_NE(services_.hotKeys->registerHotKey(35, cmdShift, {0x4D4E4457, 1}, hotKey), 0);

        OtherClient probe;
        EXPECT_TRUE(probe.grab(xKeyP, ctrlShift));
        probe.ungrab(xKeyP, ctrlShift);
    }
    // Once the other program lets go, the same combination registers.
    ASSERT_TRUE(pumpUntil([&] {
        return services_.hotKeys->registerHotKey(35, cmdShift, {0x4D4E4457, 1}, hotKey) == 0;
    }));
    EXPECT_EQ(services_.hotKeys->unregisterHotKey(hotKey), 0);
    // A key code outside the table cannot be registered at all.
    EXPECT_NE(services_.hotKeys->registerHotKey(0xFFF, cmdShift, {0x4D4E4457, 1}, hotKey), 0);
}

TEST_F(X11InputTest, KeyNamesFollowTheLayoutAndGlyphsNameTheLinuxModifiers) {
    platform::KeyboardLayout& layout = *services_.keyboardLayout;
    EXPECT_EQ(layout.unshiftedCharacters(35), "p");
    EXPECT_EQ(layout.unshiftedCharacters(8), "c");
    EXPECT_EQ(layout.unshiftedCharacters(0), "a");
    EXPECT_EQ(layout.unshiftedCharacters(18), "1");
    EXPECT_EQ(layout.unshiftedCharacters(49), " ");
    EXPECT_EQ(layout.unshiftedCharacters(126), "") << "the Up arrow types nothing";
    EXPECT_EQ(layout.unshiftedCharacters(56), "") << "nor does Shift";
    EXPECT_EQ(layout.unshiftedCharacters(200), "") << "no such position";

    EXPECT_EQ(layout.modifierGlyph(platform::Modifier::Command), "Ctrl+");
    EXPECT_EQ(layout.modifierGlyph(platform::Modifier::Shift), "Shift+");
    EXPECT_EQ(layout.modifierGlyph(platform::Modifier::Option), "Alt+");
    EXPECT_EQ(layout.modifierGlyph(platform::Modifier::Control), "Super+");

    // The same positions under a German layout, and under the second group of a two-layout map.
    if (run("setxkbmap", {"de"}).exitCode != 0) {
        GTEST_SKIP() << "setxkbmap cannot load layouts here";
    }
    EXPECT_EQ(layout.unshiftedCharacters(16), "z");
    EXPECT_EQ(layout.unshiftedCharacters(6), "y");
    EXPECT_EQ(layout.unshiftedCharacters(41), "ö");
    ASSERT_EQ(run("setxkbmap", {"us,ru"}).exitCode, 0);
    EXPECT_EQ(layout.unshiftedCharacters(35), "p");
    ASSERT_TRUE(XkbLockGroup(display_, XkbUseCoreKbd, 1));
    XSync(display_, False);
    EXPECT_EQ(layout.unshiftedCharacters(35), "з");
    ASSERT_EQ(run("setxkbmap", {"us"}).exitCode, 0);
    EXPECT_EQ(layout.unshiftedCharacters(35), "p");
}

TEST_F(X11InputTest, AccessibilityNeedsAnXDisplayWithXTest) {
    EXPECT_TRUE(services_.accessibility->isProcessTrusted());
    EXPECT_TRUE(services_.accessibility->isProcessTrustedWithPrompt());
    EXPECT_TRUE(services_.keyEvents->createSource());

    // A Wayland session without XWayland: no display to reach.
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    InputServices wayland = makeInputServices();
    EXPECT_FALSE(wayland.accessibility->isProcessTrusted());
    EXPECT_FALSE(wayland.accessibility->isProcessTrustedWithPrompt());
    EXPECT_FALSE(wayland.keyEvents->createSource());
    EXPECT_EQ(wayland.keyboardLayout->unshiftedCharacters(35), std::nullopt);
    qputenv("DISPLAY", display);
    qunsetenv("WAYLAND_DISPLAY");
}

// A focused line edit holding a selected line, recording the modifiers of each C it receives.
class Target : public QLineEdit {
  public:
    Target() {
        setText("the selected line");
        selectAll();
        show();
    }
    std::vector<Qt::KeyboardModifiers> cPresses;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_C)
            cPresses.push_back(event->modifiers());
        QLineEdit::keyPressEvent(event);
    }
};

class KeystrokeTest : public X11InputTest {
  protected:
    void SetUp() override {
        X11InputTest::SetUp();
        target_ = std::make_unique<Target>();
        ASSERT_TRUE(pumpUntil([&] { return target_->isVisible() && target_->winId() != 0; }));
        xdotool({"windowfocus", "--sync", QString::number(target_->winId())});
        ASSERT_TRUE(pumpUntil([&] { return target_->hasFocus(); }));
        services_.clipboard->clear();
    }

    // The copy keystroke the way the workflow posts it.
    void postCopy() {
        platform::KeyEvents& events = *services_.keyEvents;
        const bool source = events.createSource();
        auto down = events.createKeyboardEvent(source, 8, true);
        auto up = events.createKeyboardEvent(source, 8, false);
        ASSERT_TRUE(down && up);
        down->flags = platform::eventFlagMaskCommand;
        up->flags = platform::eventFlagMaskCommand;
        events.post(*down);
        QThread::msleep(10);
        events.post(*up);
    }

    std::optional<std::string> clipboardFromOutside() {
        const ProcessResult result = run("xclip", {"-o", "-selection", "clipboard"});
        if (result.exitCode != 0)
            return std::nullopt;
        return result.output.toStdString();
    }

    std::unique_ptr<Target> target_;
};

TEST_F(KeystrokeTest, CopyKeystrokePutsTheSelectionOnTheClipboard) {
    postCopy();
    ASSERT_TRUE(pumpUntil([&] { return target_->cPresses.size() == 1; }));
    EXPECT_EQ(target_->cPresses[0], Qt::ControlModifier);
    EXPECT_TRUE(pumpUntil([&] { return services_.clipboard->text() == "the selected line"; }));
    EXPECT_EQ(clipboardFromOutside(), "the selected line");
    EXPECT_FALSE(keyDown(XK_Control_L)) << "the keystroke leaves no modifier behind";
}

TEST_F(KeystrokeTest, ShortcutModifiersStillHeldDoNotReachTheTarget) {
    xdotool({"keydown", "ctrl+shift"});

    // What a plain XTest Ctrl+C does with Ctrl+Shift held: the target sees Ctrl+Shift+C.
    const KeyCode control = XKeysymToKeycode(display_, XK_Control_L);
    const KeyCode c = XKeysymToKeycode(display_, XK_c);
    XTestFakeKeyEvent(display_, control, True, CurrentTime);
    XTestFakeKeyEvent(display_, c, True, CurrentTime);
    XTestFakeKeyEvent(display_, c, False, CurrentTime);
    XFlush(display_);
    ASSERT_TRUE(pumpUntil([&] { return target_->cPresses.size() == 1; }));
    EXPECT_EQ(target_->cPresses[0], Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(services_.clipboard->text(), std::nullopt);

    postCopy();
    ASSERT_TRUE(pumpUntil([&] { return target_->cPresses.size() == 2; }));
    EXPECT_EQ(target_->cPresses[1], Qt::ControlModifier);
    EXPECT_TRUE(pumpUntil([&] { return services_.clipboard->text() == "the selected line"; }));
    EXPECT_EQ(clipboardFromOutside(), "the selected line");

    // Still held by the user, so they are down again after the keystroke.
    EXPECT_TRUE(keyDown(XK_Control_L));
    EXPECT_TRUE(keyDown(XK_Shift_L));
    xdotool({"keyup", "ctrl+shift"});
    EXPECT_FALSE(keyDown(XK_Shift_L));
}

class ClipboardTest : public X11InputTest {};

TEST_F(ClipboardTest, TextSnapshotOfAnotherOwnerRoundTrips) {
    platform::Clipboard& clipboard = *services_.clipboard;
    const QByteArray text = QString("héllo wörld ✓").toUtf8();
    xclipOwn(text, "UTF8_STRING");
    ASSERT_TRUE(pumpUntil([&] { return clipboard.text() == text.toStdString(); }));

    const ClipboardSnapshot saved = clipboard.snapshot();
    ASSERT_FALSE(saved.empty());
    clipboard.setText("the answer");
    EXPECT_EQ(clipboard.text(), "the answer");
    EXPECT_EQ(run("xclip", {"-o", "-selection", "clipboard"}).output, "the answer");

    clipboard.restore(saved);
    EXPECT_EQ(clipboard.text(), text.toStdString());
    EXPECT_EQ(run("xclip", {"-o", "-selection", "clipboard"}).output, text);

    clipboard.restore({});
    EXPECT_EQ(clipboard.text(), std::nullopt);
    EXPECT_NE(run("xclip", {"-o", "-selection", "clipboard"}).exitCode, 0);
}

TEST_F(ClipboardTest, NonTextFormatsRoundTripByteForByte) {
    platform::Clipboard& clipboard = *services_.clipboard;
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));

    const std::pair<QString, QByteArray> cases[] = {
        {"image/png", png},
        {"application/x-velmora-test", QByteArray("\x00\x01\xff binary\n", 11)},
    };
    for (const auto& [format, bytes] : cases) {
        SCOPED_TRACE(format.toStdString());
        xclipOwn(bytes, format);
        const auto holds = [&](const ClipboardSnapshot& snapshot) {
            for (const auto& [name, data] : snapshot.formats) {
                if (name == format.toStdString() && data == bytes.toStdString())
                    return true;
            }
            return false;
        };
        ClipboardSnapshot saved;
        ASSERT_TRUE(pumpUntil([&] { return holds(saved = clipboard.snapshot()); }));
        EXPECT_EQ(clipboard.text(), std::nullopt);

        clipboard.setText("the answer");
        ASSERT_EQ(clipboard.text(), "the answer");
        clipboard.restore(saved);
        EXPECT_TRUE(holds(clipboard.snapshot()));
        const ProcessResult out = run("xclip", {"-o", "-selection", "clipboard", "-t", format});
        EXPECT_EQ(out.exitCode, 0);
        EXPECT_EQ(out.output, bytes);
        EXPECT_TRUE(run("xclip", {"-o", "-selection", "clipboard", "-t", "TARGETS"})
                        .output.contains(format.toUtf8()));
    }
}

}  // namespace
}  // namespace velmora::desktop

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
