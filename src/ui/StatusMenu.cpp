// Placeholder until the status menu lands.
#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::rebuildStatusMenu() {}
void AppDelegate::selectCustomStyleFromStatusBar() {}
void AppDelegate::selectInformalStyleFromStatusBar() {}
void AppDelegate::selectCasualStyleFromStatusBar() {}
void AppDelegate::selectConciseStyleFromStatusBar() {}
void AppDelegate::quitApplication() {}
void AppDelegate::showSettings() {}
void AppDelegate::checkAccessibilityPermissionsAction() {}

}  // namespace velmora
