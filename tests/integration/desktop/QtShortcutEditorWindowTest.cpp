#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "DesktopTestSupport.h"
#include "platform/HotKeys.h"
#include "platform/linux/QtWindows.h"

namespace velmora::desktop {
namespace {

using namespace testing;

// A recorder with the logic's rules, enough to drive the window: a combination needs a modifier,
// the modifier keys alone never end recording, Escape stops it.
class RecorderModel : public platform::ShortcutEditorModel {
  public:
    bool isRecording() const override { return recording; }
    std::string currentShortcutDisplay() const override { return display; }
    void startRecording() override {
        recording = true;
        changed();
    }
    bool handleKeyboardEvent(const platform::KeyboardEventInfo& event) override {
        seen.push_back(event);
        if (!recording) {
            return false;
        }
        std::uint32_t mask = 0;
        if (event.modifierFlags & platform::eventModifierFlagCommand)
            mask |= platform::cmdKey;
        if (event.modifierFlags & platform::eventModifierFlagShift)
            mask |= platform::shiftKey;
        if (event.modifierFlags & platform::eventModifierFlagOption)
            mask |= platform::optionKey;
        if (event.modifierFlags & platform::eventModifierFlagControl)
            mask |= platform::controlKey;
        if (event.keyCode == 53) {
            recording = false;
        } else if (mask != 0 && (event.keyCode < 54 || event.keyCode > 62)) {
            keyCode = event.keyCode;
            modifiers = mask;
            display = "recorded " + std::to_string(keyCode);
            recording = false;
        }
        changed();
        return true;
    }
    void cancel() override { ++cancels; }
    void save() override { ++saves; }
    void setOnChange(std::function<void()> onChange) override { onChange_ = std::move(onChange); }

    bool recording = false;
    std::string display = "⌘⇧P";
    int keyCode = 35;
    std::uint32_t modifiers = platform::cmdKey | platform::shiftKey;
    int cancels = 0;
    int saves = 0;
    std::vector<platform::KeyboardEventInfo> seen;

  private:
    void changed() {
        if (onChange_)
            onChange_();
    }
    std::function<void()> onChange_;
};

// Real keystrokes into the real window: a click on the box starts recording, a bare K is
// swallowed without ending it, Ctrl+Shift+K is recorded as the position of K with Command and
// Shift.
TEST(QtShortcutEditorWindow, RecordsControlShiftKAsCommandShiftK) {
    auto model = std::make_shared<RecorderModel>();
    QtWindows windows;
    auto window = windows.createShortcutEditorWindow(model, platform::WindowStyle{});
    window->setTitle("Edit Shortcut");
    window->setContentSize({320, 200});
    window->setLevel(platform::modalPanelWindowLevel);
    window->makeKeyAndOrderFront();
    auto& qtWindow = static_cast<QtShortcutEditorWindow&>(*window);
    ASSERT_TRUE(
        waitUntil([&] { return qtWindow.windowHandle() && qtWindow.windowHandle()->isExposed(); }));
    EXPECT_EQ(qtWindow.width(), 320);
    EXPECT_GE(qtWindow.height(), 200);
    EXPECT_TRUE(qtWindow.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(qtWindow.shortcutBox().text(), QStringLiteral("⌘⇧P"));
    EXPECT_FALSE(qtWindow.escapeHint().isVisible());
    EXPECT_TRUE(qtWindow.saveButton().isEnabled());

    const QPoint boxCentre =
        qtWindow.shortcutBox().mapToGlobal(qtWindow.shortcutBox().rect().center());
    const QString windowId = QString::number(qtWindow.winId());
    std::atomic<int> step{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::thread driver([&] {
        if (xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"),
                     QString::number(boxCentre.x()), QString::number(boxCentre.y()),
                     QStringLiteral("click"), QStringLiteral("1")})
                .exitCode != 0) {
            failed = true;
            return;
        }
        while (step < 2 && !stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!pressKeys(windowId, {QStringLiteral("k")})) {
            failed = true;
            return;
        }
        step = 3;
        while (step < 4 && !stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!pressKeys(windowId, {QStringLiteral("ctrl+shift+k")})) {
            failed = true;
        }
        step = 5;
    });

    // The driver may wait for the next step: release it whatever happens here.
    struct Join {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Join() {
            stop = true;
            if (thread.joinable())
                thread.join();
        }
    } join{stop, driver};

    ASSERT_TRUE(waitUntil([&] { return model->recording || failed; }));
    ASSERT_FALSE(failed);
    EXPECT_TRUE(qtWindow.escapeHint().isVisible());
    EXPECT_FALSE(qtWindow.saveButton().isEnabled());
    step = 2;

    ASSERT_TRUE(waitUntil([&] { return step == 3 || failed; }));
    // The release of K is not a key-down; wait for the press to be seen.
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& event : model->seen) {
            if (event.keyCode == 40)
                return true;
        }
        return false;
    }));
    EXPECT_TRUE(model->recording);
    EXPECT_EQ(model->keyCode, 35);
    step = 4;

    ASSERT_TRUE(waitUntil([&] { return !model->recording || failed; }));
    ASSERT_TRUE(waitUntil([&] { return step == 5 || failed; }));
    ASSERT_FALSE(failed);
    EXPECT_EQ(model->keyCode, 40);
    EXPECT_EQ(model->modifiers, platform::cmdKey | platform::shiftKey);
    EXPECT_EQ(qtWindow.shortcutBox().text(), QStringLiteral("recorded 40"));
    EXPECT_TRUE(qtWindow.saveButton().isEnabled());
    EXPECT_FALSE(qtWindow.escapeHint().isVisible());

    // The modifiers arrived as modifier changes of Control (Command's code) and Shift.
    bool sawControl = false;
    bool sawShift = false;
    for (const auto& event : model->seen) {
        if (event.type == platform::KeyboardEventInfo::Type::FlagsChanged && event.keyCode == 55)
            sawControl = true;
        if (event.type == platform::KeyboardEventInfo::Type::FlagsChanged && event.keyCode == 56)
            sawShift = true;
    }
    EXPECT_TRUE(sawControl);
    EXPECT_TRUE(sawShift);

    qtWindow.saveButton().click();
    qtWindow.cancelButton().click();
    EXPECT_EQ(model->saves, 1);
    EXPECT_EQ(model->cancels, 1);
    window->close();
    EXPECT_FALSE(window->isVisible());
}

TEST(QtShortcutEditorWindow, KeyEventsBecomePositionsAndEventFlags) {
    // X key code 33 is the P position whatever the layout.
    const QKeyEvent p(QEvent::KeyPress, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier, 33, 0,
                      0);
    auto info = keyboardEventInfoFor(p);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->type, platform::KeyboardEventInfo::Type::KeyDown);
    EXPECT_EQ(info->keyCode, 35);
    EXPECT_EQ(info->modifierFlags,
              platform::eventModifierFlagCommand | platform::eventModifierFlagShift);

    // On an AZERTY layout the same position types A, and still reports 0 for the A position.
    const QKeyEvent q(QEvent::KeyPress, Qt::Key_Q, Qt::AltModifier | Qt::MetaModifier, 38, 0, 0);
    info = keyboardEventInfoFor(q);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->keyCode, 0);
    EXPECT_EQ(info->modifierFlags,
              platform::eventModifierFlagOption | platform::eventModifierFlagControl);

    // Modifier keys are modifier changes, on press and on release; Escape is 53.
    const QKeyEvent controlUp(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier, 37, 0, 0);
    info = keyboardEventInfoFor(controlUp);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->type, platform::KeyboardEventInfo::Type::FlagsChanged);
    EXPECT_EQ(info->keyCode, 55);
    const QKeyEvent superDown(QEvent::KeyPress, Qt::Key_Super_R, Qt::MetaModifier, 134, 0, 0);
    EXPECT_EQ(keyboardEventInfoFor(superDown)->keyCode, 62);
    const QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 9, 0, 0);
    EXPECT_EQ(keyboardEventInfoFor(escape)->keyCode, 53);

    // Releases of ordinary keys and keys without a position are not reported.
    const QKeyEvent kUp(QEvent::KeyRelease, Qt::Key_K, Qt::NoModifier, 45, 0, 0);
    EXPECT_FALSE(keyboardEventInfoFor(kUp));
    const QKeyEvent unknown(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, 250, 0, 0);
    EXPECT_FALSE(keyboardEventInfoFor(unknown));
}

}  // namespace
}  // namespace velmora::desktop
