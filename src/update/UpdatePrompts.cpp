// Placeholder until the update checker lands.
#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::updateAvailable(const std::string&) {}
void AppDelegate::noUpdateAvailable(const std::string&) {}
void AppDelegate::updateCheckFailed(const UpdateCheckError&) {}
void AppDelegate::checkForUpdatesAction() {
    autoUpdateService_->checkForUpdates();
}

}  // namespace velmora
