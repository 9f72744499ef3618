// Placeholder until the sign-in flow lands.
#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::signInAction() {}
void AppDelegate::handleGetURLWithEvent(const std::optional<std::string>&) {}
void AppDelegate::signOutAction() {}
void AppDelegate::showSignInPrompt() {}

}  // namespace velmora
