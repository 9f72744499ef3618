#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QPushButton>
#include <QWindow>

#include "DesktopTestSupport.h"
#include "hotkey/ShortcutEditorView.h"
#include "platform/linux/QtShortcutEditorWindow.h"
#include "platform/linux/QtWindows.h"

namespace velmora::desktop {
namespace {

using namespace testing;
using platform::Modifier;

std::string describe(const platform::Shortcut& shortcut) {
    return std::to_string(shortcut.key.position) + "/" + std::to_string(shortcut.modifiers.bits());
}

// Real keys into the real window, recorded by the logic's recorder. While recording, the window
// holds the keyboard: a combination another program (a window manager) has grabbed still reaches
// it. Control, Shift, Alt and Super arrive as themselves; Escape stops recording; the window keeps
// its size throughout and lets go of the keyboard when recording ends.
TEST(QtShortcutEditorWindow, RecordsKeysByPositionThroughTheRecorder) {
    std::optional<platform::Shortcut> saved;
    ShortcutEditorView model(
        {platform::keys::P, Modifier::Control | Modifier::Shift}, describe,
        [&](const platform::Shortcut& shortcut) { saved = shortcut; }, [] {}, [] {});
    QtWindows windows;
    const auto window = windows.createShortcutEditorWindow(model);
    window->setTitle("Edit Shortcut");
    window->setContentSize({320, 200});
    window->show();
    ShortcutEditorWidget& widget = static_cast<QtShortcutEditorWindow&>(*window).widget();
    ASSERT_TRUE(waitUntil([&] { return widget.windowHandle()->isExposed(); }));
    const QSize size = widget.size();
    EXPECT_GE(size.width(), 320);
    EXPECT_EQ(widget.shortcutBox().text(), QStringLiteral("25/3"));

    xcb_connection_t* windowManager = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(windowManager)).data->root;
    xcb_grab_key(windowManager, 0, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, 45,
                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    const auto keyboardFree = [&] {
        xcb_grab_keyboard_reply_t* reply =
            xcb_grab_keyboard_reply(windowManager,
                                    xcb_grab_keyboard(windowManager, 0, root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        const bool grabbed = reply != nullptr && reply->status == XCB_GRAB_STATUS_SUCCESS;
        free(reply);
        xcb_ungrab_keyboard(windowManager, XCB_CURRENT_TIME);
        xcb_flush(windowManager);
        return grabbed;
    };

    const QPoint box = widget.shortcutBox().mapToGlobal(widget.shortcutBox().rect().center());
    ASSERT_TRUE(
        xdotool({"mousemove", "--sync", QString::number(box.x()), QString::number(box.y())}));
    const auto record = [&](const QString& keys) {
        EXPECT_TRUE(xdotool({"click", "1"}));
        EXPECT_TRUE(waitUntil([&] { return model.isRecording() && !keyboardFree(); }));
        EXPECT_EQ(widget.size(), size);
        EXPECT_TRUE(xdotool({"key", "--delay", "50", keys}));
        EXPECT_TRUE(waitUntil([&] { return !model.isRecording() && keyboardFree(); }));
    };

    record(QStringLiteral("ctrl+shift+k"));
    EXPECT_EQ(describe(model.captured()), "37/3");
    record(QStringLiteral("alt+super+k"));
    EXPECT_EQ(describe(model.captured()), "37/12");
    record(QStringLiteral("Escape"));
    EXPECT_EQ(describe(model.captured()), "37/12");
    EXPECT_EQ(widget.shortcutBox().text(), QStringLiteral("37/12"));
    xcb_disconnect(windowManager);

    widget.saveButton().click();
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(describe(*saved), "37/12");
}

}  // namespace
}  // namespace velmora::desktop
