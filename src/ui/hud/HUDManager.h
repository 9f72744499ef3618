#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainQueue.h"
#include "platform/Windows.h"

namespace velmora {

// The floating progress panel's owner: one instance for the whole process, made by the entry
// point before anything else and reached by every caller through it.
class HUDManager {
  public:
    HUDManager(platform::Windows& windows, platform::MainQueue& mainQueue)
        : windows_(windows), mainQueue_(mainQueue) {}

    void showHUD(const std::string& message, const std::string& systemImage,
                 std::optional<platform::MainQueue::Duration> duration = std::nullopt);
    void hideHUD();

  private:
    platform::Windows& windows_;
    platform::MainQueue& mainQueue_;
    std::unique_ptr<platform::Panel> hudWindow_;
    std::unique_ptr<platform::Timer> hideTimer_;
    std::uint64_t nextIdentity_ = 1;
};

// The origin that centres a rectangle of `size` in `visibleFrame`.
platform::Point centeredOrigin(const platform::Rect& visibleFrame, platform::Size size);

}  // namespace velmora
