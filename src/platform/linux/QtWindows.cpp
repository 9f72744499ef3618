#include "platform/linux/QtWindows.h"

#include <QGuiApplication>
#include <QScreen>

#include "platform/linux/QtPanel.h"
#include "platform/linux/QtShortcutEditorWindow.h"

namespace velmora::desktop {

std::unique_ptr<platform::Panel> QtWindows::createPanel() {
    return std::make_unique<QtPanel>();
}

std::unique_ptr<platform::Window> QtWindows::createShortcutEditorWindow(
    platform::ShortcutEditorModel& model) {
    return std::make_unique<QtShortcutEditorWindow>(model);
}

std::optional<platform::Rect> QtWindows::mainScreenVisibleFrame() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return std::nullopt;
    }
    const QRect g = screen->availableGeometry();
    return platform::Rect{{static_cast<double>(g.x()), static_cast<double>(g.y())},
                          {static_cast<double>(g.width()), static_cast<double>(g.height())}};
}

}  // namespace velmora::desktop
