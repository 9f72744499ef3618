#include "ui/hud/HUDManager.h"

namespace velmora {
namespace {

constexpr double kFadeInSeconds = 0.2;
constexpr double kFadeOutSeconds = 0.3;

}  // namespace

HUDManager::HUDManager(platform::PanelFactory& panels, platform::Screens& screens,
                       platform::MainQueue& mainQueue)
    : panels_(panels), screens_(screens), mainQueue_(mainQueue) {}

void HUDManager::showHUD(const std::string& message, const std::string& systemImage,
                         std::optional<double> duration) {
    if (!hudWindow_) {
        hudWindow_ = panels_.createHUDPanel();
        if (!hudWindow_) {
            return;
        }
    }
    if (hideTimer_) {
        hideTimer_->invalidate();
    }

    // A fresh identity rebuilds the view, so the symbol's bounce starts again even when the
    // message and symbol are unchanged.
    hudWindow_->setContent({message, systemImage, nextIdentity_++});
    hudWindow_->setContentSize(hudWindow_->measureContent(message, systemImage));
    centerOnMainScreen();
    hudWindow_->orderFront();
    hudWindow_->animateAlpha(1.0, kFadeInSeconds, {});

    if (duration) {
        hideTimer_ = mainQueue_.scheduleTimer(*duration, false,
                                              [this] { mainQueue_.async([this] { hideHUD(); }); });
    }
}

void HUDManager::hideHUD() {
    if (hideTimer_) {
        hideTimer_->invalidate();
    }
    if (!hudWindow_) {
        return;
    }
    // The completion does not check for a later show: a show during the fade-out is still
    // ordered out when the fade ends.
    platform::Panel* panel = hudWindow_.get();
    hudWindow_->animateAlpha(0.0, kFadeOutSeconds, [panel] { panel->orderOut(); });
}

void HUDManager::centerOnMainScreen() {
    const std::optional<platform::Rect> visibleFrame = screens_.mainScreenVisibleFrame();
    if (!visibleFrame) {
        return;
    }
    hudWindow_->setFrameOrigin(centeredOrigin(*visibleFrame, hudWindow_->frame().size));
}

platform::Point centeredOrigin(const platform::Rect& visibleFrame, platform::Size size) {
    return {visibleFrame.midX() - size.width * 0.5, visibleFrame.midY() - size.height * 0.5};
}

}  // namespace velmora
