// Placeholder until the shortcut recorder lands.
#include "app/AppDelegate.h"

namespace velmora {

void AppDelegate::showShortcutEditor() {}

}  // namespace velmora
