#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/linux/CurlHttpSession.h"

namespace velmora::desktop {

class QtApplication;
class QtMainQueue;

// The Linux platform services for this session, owned in one place. The shortcut, keystroke and
// key-name services follow the session: on X11 they use the X server; elsewhere they report
// themselves unavailable, with what the user can do.
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
    std::unique_ptr<QtMainQueue> mainQueue_;
    std::unique_ptr<QtApplication> application_;
    std::unique_ptr<platform::Defaults> defaults_;
    std::unique_ptr<platform::SecretStore> secrets_;
    std::unique_ptr<platform::Alerts> alerts_;
    std::unique_ptr<platform::Tray> tray_;
    std::unique_ptr<platform::Windows> windows_;
    std::unique_ptr<platform::Clipboard> clipboard_;
    std::unique_ptr<platform::Keystrokes> keystrokes_;
    std::unique_ptr<platform::GlobalShortcuts> shortcuts_;
    std::unique_ptr<platform::KeyNames> keyNames_;
    std::unique_ptr<platform::HttpSession> http_;
};

}  // namespace velmora::desktop
