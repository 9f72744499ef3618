#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/WeakScope.h"
#include "platform/Alerts.h"
#include "platform/MainQueue.h"
#include "ui/Notices.h"
#include "update/AutoUpdateService.h"

namespace velmora {

// What the user sees of an update check: the download offer, or a notice.
class UpdatePrompts {
  public:
    UpdatePrompts(platform::Alerts& alerts, platform::MainQueue& mainQueue, Notices& notices,
                  std::function<void()> downloadUpdate);

    void updateAvailable(const std::string& newestVersion);
    void noUpdateAvailable(const std::string& runningVersion);
    void updateCheckFailed(const UpdateCheckError& error);

  private:
    platform::Alerts& alerts_;
    platform::MainQueue& mainQueue_;
    Notices& notices_;
    std::function<void()> downloadUpdate_;
    WeakScope scope_;
};

}  // namespace velmora
