#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::updateAvailable(const std::string& newestVersion) {
    // The offer has two buttons, so it is built here rather than through showAlert.
    platform::Alerts& alerts = platform_.alerts;
    platform_.mainQueue.async([weakSelf = weak_from_this(), &alerts, newestVersion] {
        platform::AlertRequest request;
        request.messageText = "Update Available";
        request.informativeText =
            "A new version (" + newestVersion +
            ") of Velmora is available. Would you like to download it now?\n\nThis will open "
            "your browser to download the latest version.";
        request.style = platform::AlertStyle::Informational;
        request.buttons = {"Download in Browser", "Later"};
        const platform::AlertResponse response = alerts.runModal(request);
        if (response.button != platform::alertFirstButtonReturn) {
            return;
        }
        if (auto self = weakSelf.lock()) {
            self->autoUpdateService_->downloadUpdate();
        }
    });
}

void AppDelegate::noUpdateAvailable(const std::string& runningVersion) {
    platform_.mainQueue.async([weakSelf = weak_from_this(), runningVersion] {
        if (auto self = weakSelf.lock()) {
            self->showAlert(
                "No Updates Available",
                "You're already running the latest version (" + runningVersion + ") of Velmora.",
                platform::AlertStyle::Informational);
        }
    });
}

void AppDelegate::updateCheckFailed(const UpdateCheckError& error) {
    platform_.mainQueue.async([weakSelf = weak_from_this(), description = describe(error)] {
        if (auto self = weakSelf.lock()) {
            self->showAlert("Update Failed", "Failed to check for updates: " + description,
                            platform::AlertStyle::Critical);
        }
    });
}

void AppDelegate::checkForUpdatesAction() {
    autoUpdateService_->checkForUpdates();
}

}  // namespace velmora
