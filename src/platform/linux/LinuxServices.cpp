#include "platform/linux/LinuxServices.h"

#include <QGuiApplication>

#include "base/Log.h"
#include "platform/linux/QtAlerts.h"
#include "platform/linux/QtApplication.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/QtDefaults.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/QtTray.h"
#include "platform/linux/QtWindows.h"
#include "platform/linux/SecretServiceStore.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11GlobalShortcuts.h"
#include "platform/linux/X11KeyNames.h"
#include "platform/linux/XTestKeystrokes.h"

namespace velmora::desktop {

LinuxServices::LinuxServices()
    : mainQueue_(std::make_unique<QtMainQueue>()),
      application_(std::make_unique<QtApplication>(*mainQueue_)),
      defaults_(std::make_unique<QtDefaults>()),
      secrets_(std::make_unique<SecretServiceStore>()),
      alerts_(std::make_unique<QtAlerts>()),
      tray_(std::make_unique<QtTray>(*mainQueue_)),
      windows_(std::make_unique<QtWindows>()),
      http_(makeHttpSession(60.0)) {
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    if (!x11) {
        logLine("Not an X11 session (" + QGuiApplication::platformName().toStdString() +
                "): the shortcut and keystrokes are unavailable.");
    }
    auto connection = std::make_shared<X11Connection>(x11);
    clipboard_ = std::make_unique<QtClipboard>(x11);
    keystrokes_ = std::make_unique<XTestKeystrokes>(connection);
    shortcuts_ = std::make_unique<X11GlobalShortcuts>();
    keyNames_ = std::make_unique<X11KeyNames>(connection);
}

LinuxServices::~LinuxServices() = default;

platform::Platform LinuxServices::platform() const {
    return {*mainQueue_, *application_, *defaults_,   *secrets_,   *alerts_,   *tray_,
            *windows_,   *clipboard_,   *keystrokes_, *shortcuts_, *keyNames_, *http_};
}

}  // namespace velmora::desktop
