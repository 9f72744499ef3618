#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::showAlert(const std::string& title, const std::string& message,
                            platform::AlertStyle style) {
    // Always queued, so the caller continues first and notices appear in the order raised.
    platform::Alerts& alerts = platform_.alerts;
    platform_.mainQueue.async([&alerts, title, message, style] {
        platform::AlertRequest request;
        request.messageText = title;
        request.informativeText = message;
        request.style = style;
        request.buttons = {"OK"};
        alerts.runModal(request);
    });
}

}  // namespace velmora
