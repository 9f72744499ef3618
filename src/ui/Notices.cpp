#include "ui/Notices.h"

namespace velmora {

void Notices::showAlert(const std::string& title, const std::string& message,
                        platform::AlertStyle style) {
    platform::Alerts& alerts = alerts_;
    mainQueue_.async([&alerts, title, message, style] {
        alerts.runModal({title, message, style, {"OK"}, std::nullopt});
    });
}

}  // namespace velmora
