#pragma once

#include <QString>
#include <optional>

#include "platform/Keys.h"

namespace velmora::desktop {

// The shortcut as the portal's trigger syntax writes it ("CTRL+SHIFT+p"): the modifiers' names,
// then the name of the symbol the key types in the keyboard layout of this system. None when
// the layout gives the key no symbol.
std::optional<QString> portalTrigger(const platform::Shortcut& shortcut);

}  // namespace velmora::desktop
