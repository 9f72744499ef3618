// Placeholder until the HUD lands.
#include "ui/hud/HUDManager.h"

namespace velmora {

HUDManager::HUDManager(platform::PanelFactory& panels, platform::Screens& screens,
                       platform::MainQueue& mainQueue)
    : panels_(panels), screens_(screens), mainQueue_(mainQueue) {}

void HUDManager::showHUD(const std::string&, const std::string&, std::optional<double>) {}
void HUDManager::hideHUD() {}
void HUDManager::centerOnMainScreen() {}

platform::Point centeredOrigin(const platform::Rect& visibleFrame, platform::Size size) {
    return {visibleFrame.midX() - size.width * 0.5, visibleFrame.midY() - size.height * 0.5};
}

}  // namespace velmora
