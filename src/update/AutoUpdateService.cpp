// Placeholder until the update checker lands.
#include "update/AutoUpdateService.h"

namespace velmora {

std::string describe(AutoUpdateError) {
    return {};
}
std::string describe(const UpdateCheckError&) {
    return {};
}
int compareVersionsNumerically(const std::string&, const std::string&) {
    return 0;
}

AutoUpdateService::AutoUpdateService(platform::HttpSession& session, platform::MainQueue& mainQueue,
                                     platform::Workspace& workspace,
                                     const platform::BundleInfo& bundle, std::string updateURL,
                                     std::string versionCheckURL)
    : session_(session),
      mainQueue_(mainQueue),
      workspace_(workspace),
      bundle_(bundle),
      updateURL_(std::move(updateURL)),
      versionCheckURL_(std::move(versionCheckURL)) {}

void AutoUpdateService::checkForUpdates() {}
void AutoUpdateService::downloadUpdate() {}

}  // namespace velmora
