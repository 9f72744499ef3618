#include "update/UpdatePrompts.h"

#include <utility>

namespace velmora {

UpdatePrompts::UpdatePrompts(platform::Alerts& alerts, platform::MainQueue& mainQueue,
                             Notices& notices, std::function<void()> downloadUpdate)
    : alerts_(alerts),
      mainQueue_(mainQueue),
      notices_(notices),
      downloadUpdate_(std::move(downloadUpdate)) {}

void UpdatePrompts::updateAvailable(const std::string& newestVersion) {
    // The offer has two buttons, so it is built here rather than as a notice.
    mainQueue_.async(scope_.bind([this, newestVersion] {
        const platform::AlertRequest request{
            "Update Available",
            "A new version (" + newestVersion +
                ") of Velmora is available. Would you like to download it now?\n\nThis will open "
                "your browser to download the latest version.",
            platform::AlertStyle::Informational,
            {"Download in Browser", "Later"},
            std::nullopt};
        if (alerts_.runModal(request).button == 0) {
            downloadUpdate_();
        }
    }));
}

void UpdatePrompts::noUpdateAvailable(const std::string& runningVersion) {
    mainQueue_.async(scope_.bind([this, runningVersion] {
        notices_.showAlert(
            "No Updates Available",
            "You're already running the latest version (" + runningVersion + ") of Velmora.",
            platform::AlertStyle::Informational);
    }));
}

void UpdatePrompts::updateCheckFailed(const UpdateCheckError& error) {
    mainQueue_.async(scope_.bind([this, description = describe(error)] {
        notices_.showAlert("Update Failed", "Failed to check for updates: " + description,
                           platform::AlertStyle::Critical);
    }));
}

}  // namespace velmora
