#include "ui/hud/HUDManager.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

constexpr auto kFadeIn = 200ms;
constexpr auto kFadeOut = 300ms;

}  // namespace

void HUDManager::showHUD(const std::string& message, const std::string& systemImage,
                         std::optional<platform::MainQueue::Duration> duration) {
    if (!hudWindow_) {
        hudWindow_ = windows_.createPanel();
    }
    if (hideTimer_) {
        hideTimer_->invalidate();
    }
    // A fresh identity rebuilds the view, so the symbol's bounce starts again even when the
    // message and symbol are unchanged.
    hudWindow_->setContent({message, systemImage, nextIdentity_++});
    hudWindow_->setSize(hudWindow_->fittingSize(message, systemImage));
    if (const auto visibleFrame = windows_.mainScreenVisibleFrame()) {
        hudWindow_->setOrigin(centeredOrigin(*visibleFrame, hudWindow_->size()));
    }
    hudWindow_->orderFront();
    hudWindow_->fadeTo(1.0, kFadeIn, {});

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
    platform::Panel* panel = hudWindow_.get();
    hudWindow_->fadeTo(0.0, kFadeOut, [panel] { panel->orderOut(); });
}

platform::Point centeredOrigin(const platform::Rect& visibleFrame, platform::Size size) {
    return {visibleFrame.midX() - size.width * 0.5, visibleFrame.midY() - size.height * 0.5};
}

}  // namespace velmora
