// Placeholder until the dialogs land.
#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::showInputDialog(const std::string&, const std::string&, const std::string&,
                                  std::function<void(const std::optional<std::string>&)>) {}
void AppDelegate::showAboutInfo() {}
void AppDelegate::showCustomInstructionsInput() {}
void AppDelegate::resetCustomInstructions() {}

}  // namespace velmora
