// Placeholder until the rewrite workflow lands.
#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::hotkeyTriggered() {}
void AppDelegate::processSelectedText() {}
void AppDelegate::abortProcessing() {}
void AppDelegate::startProcessing() {}
void AppDelegate::processCopiedText() {}
void AppDelegate::advanceProcessingAnimation() {}
void AppDelegate::handleProcessingResult(const std::string&) {}
void AppDelegate::finishPasteAndRestore() {}
void AppDelegate::handleAuthenticationError() {}

void AppDelegate::queueHUD(bool show) {
    HUDManager& hud = hud_;
    if (show) {
        platform_.mainQueue.async([&hud] { hud.showHUD("Velmoraing...", "sparkles"); });
    } else {
        platform_.mainQueue.async([&hud] { hud.hideHUD(); });
    }
}

}  // namespace velmora
