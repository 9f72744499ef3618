// Placeholder until the clipboard bridge lands.
#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::saveOriginalPasteboard() {}
std::optional<std::string> AppDelegate::readPasteboardText() {
    return pasteboard_.text();
}
void AppDelegate::placeResultOnPasteboard(const std::string&) {}
void AppDelegate::restoreOriginalPasteboard() {}
void AppDelegate::simulateKeyPress(std::uint16_t, std::uint64_t, std::function<void()>) {}
bool AppDelegate::isAccessibilityTrusted() {
    return platform_.accessibility.isProcessTrusted();
}
void AppDelegate::checkAccessibilityPermissions(bool) {}
void AppDelegate::showAccessibilityPermissionAlert() {}

}  // namespace velmora
