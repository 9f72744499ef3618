#pragma once

#include "platform/MainQueue.h"
#include "platform/StatusItem.h"

namespace velmora::desktop {

// The system tray (StatusNotifierItem or XEmbed, whichever Qt finds).
class QtTray : public platform::Tray {
  public:
    explicit QtTray(platform::MainQueue& queue) : queue_(queue) {}
    std::unique_ptr<platform::StatusItem> createStatusItem() override;

  private:
    platform::MainQueue& queue_;
};

}  // namespace velmora::desktop
