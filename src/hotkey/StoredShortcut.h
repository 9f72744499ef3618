#pragma once

#include <cstdint>
#include <optional>

#include "platform/Keys.h"

namespace velmora {

// The shortcut as the settings store keeps it: "HotkeyCode" holds a virtual key code that names a
// key position on an ANSI keyboard (35 is P) and "HotkeyModifiers" a modifier mask (0x0100 for the
// primary modifier, 0x0200 Shift, 0x0800 Alt, 0x1000 the secondary one). These numbers come from
// the first release's platform and stay as stored, so every release reads the same settings; this
// is the one place that converts them. The primary modifier is Control here and the secondary
// Super, on the keys as in the mask. A key that has no such code (a key the first release's
// keyboards lack) is stored as 0x8000 plus its position.
struct StoredShortcut {
    std::uint16_t keyCode = 0;
    std::uint32_t modifiers = 0;

    // None when the key code names no key position this keyboard has.
    std::optional<platform::Shortcut> shortcut() const;
    static StoredShortcut from(const platform::Shortcut& shortcut);
};

// The default: P with the primary modifier and Shift.
inline constexpr StoredShortcut kDefaultStoredShortcut{35, 0x0300};

}  // namespace velmora
