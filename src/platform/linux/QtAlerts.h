#pragma once

#include "platform/Alerts.h"

namespace velmora::desktop {

// One QMessageBox per alert, run modally inside the queued block that asked for it. A progress
// panel fading out leaves the screen first, so it never covers the alert.
class QtAlerts : public platform::Alerts {
  public:
    platform::AlertResponse runModal(const platform::AlertRequest& request) override;
};

}  // namespace velmora::desktop
