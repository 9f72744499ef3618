#pragma once

#include "platform/MainQueue.h"
#include "platform/StatusItem.h"

namespace velmora::desktop {

class QtStatusItem;

// The system tray (StatusNotifierItem or XEmbed, whichever Qt finds), or where there is none, the
// menu's own window.
class QtTray : public platform::Tray {
  public:
    explicit QtTray(platform::MainQueue& queue) : queue_(queue) {}
    std::unique_ptr<platform::StatusItem> createStatusItem() override;
    std::string menuLocation() const override;

    // The user started Velmora again (or the first time): without a tray, the menu's window opens.
    void reopen();
    // A desktop launcher's action: the menu item of that id, as if chosen. Where the menu has no
    // such item now (Sign out while signed out), the menu's window opens instead.
    void performAction(const std::string& id);

  private:
    platform::MainQueue& queue_;
    // The item made last, while it lives.
    QtStatusItem* item_ = nullptr;
    unsigned generation_ = 0;
};

}  // namespace velmora::desktop
