#pragma once

#include <functional>
#include <memory>

#include "platform/Platform.h"

namespace velmora::desktop {

class QtApplication;
class QtMainQueue;
class QtTray;
class WaylandConnection;
class X11Clipboard;

// The Linux platform services for this session, owned in one place. Each capability is probed
// for, never assumed from the desktop's name: on Wayland the compositor's protocols and the
// desktop portals, on X11 the X server. A capability that is missing says what the user can do.
class LinuxServices {
  public:
    // Probes the session; call once the QApplication exists.
    LinuxServices();
    ~LinuxServices();
    LinuxServices(const LinuxServices&) = delete;
    LinuxServices& operator=(const LinuxServices&) = delete;

    platform::Platform platform() const;
    QtMainQueue& mainQueue() const { return *mainQueue_; }
    QtApplication& application() const { return *application_; }
    platform::Windows& windows() const { return *windows_; }

  private:
    void useWayland();
    void useX11();

    std::unique_ptr<QtMainQueue> mainQueue_;
    std::unique_ptr<QtApplication> application_;
    std::unique_ptr<platform::Defaults> defaults_;
    std::unique_ptr<platform::SecretStore> secrets_;
    std::unique_ptr<platform::Alerts> alerts_;
    std::unique_ptr<QtTray> tray_;
    std::unique_ptr<platform::Windows> windows_;
    std::shared_ptr<WaylandConnection> clipboardConnection_;
    std::shared_ptr<WaylandConnection> keyboardConnection_;
    std::unique_ptr<X11Clipboard> x11Clipboard_;
    std::unique_ptr<platform::Clipboard> clipboard_;
    std::unique_ptr<platform::Keystrokes> keystrokes_;
    std::unique_ptr<platform::GlobalShortcuts> shortcuts_;
    std::unique_ptr<platform::KeyNames> keyNames_;
    std::unique_ptr<platform::HttpSession> http_;
};

}  // namespace velmora::desktop
