#pragma once

#include <string>

#include "platform/Alerts.h"
#include "platform/MainQueue.h"

namespace velmora {

// One-button modal notices. Each is queued, so the caller always continues first, and notices
// appear one after another in the order raised.
class Notices {
  public:
    Notices(platform::Alerts& alerts, platform::MainQueue& mainQueue)
        : alerts_(alerts), mainQueue_(mainQueue) {}

    void showAlert(const std::string& title, const std::string& message,
                   platform::AlertStyle style);

  private:
    platform::Alerts& alerts_;
    platform::MainQueue& mainQueue_;
};

}  // namespace velmora
