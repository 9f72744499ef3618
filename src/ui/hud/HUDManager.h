#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainQueue.h"
#include "platform/Panel.h"

namespace velmora {

// The floating progress panel's owner: one instance for the whole process, made by the entry
// point before anything else and reached by every caller through it.
class HUDManager {
  public:
    HUDManager(platform::PanelFactory& panels, platform::Screens& screens,
               platform::MainQueue& mainQueue);

    void showHUD(const std::string& message, const std::string& systemImage,
                 std::optional<double> duration = std::nullopt);
    void hideHUD();

    bool hasPanel() const { return hudWindow_ != nullptr; }

  private:
    void centerOnMainScreen();

    platform::PanelFactory& panels_;
    platform::Screens& screens_;
    platform::MainQueue& mainQueue_;
    std::unique_ptr<platform::Panel> hudWindow_;
    std::shared_ptr<platform::Timer> hideTimer_;
    std::uint64_t nextIdentity_ = 1;
};

// Centres a rectangle of `size` in `visibleFrame`; shared by the HUD and the shortcut editor.
platform::Point centeredOrigin(const platform::Rect& visibleFrame, platform::Size size);

}  // namespace velmora
