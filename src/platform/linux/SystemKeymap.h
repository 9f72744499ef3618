#pragma once

#include <optional>
#include <string>

#include "platform/Keys.h"

struct xkb_keymap;

namespace velmora::desktop {

// The keyboard layout the system was set up with, for sessions where no X server can be asked
// (a Wayland client sees the compositor's layout only through a keyboard of its own): the
// XKB_DEFAULT_* variables, else /etc/default/keyboard, else libxkbcommon's defaults.
class SystemKeymap {
  public:
    SystemKeymap();
    ~SystemKeymap();
    SystemKeymap(const SystemKeymap&) = delete;
    SystemKeymap& operator=(const SystemKeymap&) = delete;

    // The name of the symbol the key types without modifiers ("p", "F5"), or none.
    std::optional<std::string> keysymName(platform::Key key) const;
    // What the key types without modifiers, as UTF-8, or none for keys that type nothing.
    std::optional<std::string> text(platform::Key key) const;

  private:
    xkb_keymap* keymap_ = nullptr;
};

// How this desktop writes a modifier in front of a key ("Ctrl+").
std::string modifierGlyph(platform::Modifier modifier);

// What a keysym types, as UTF-8; none for keysyms that type nothing (arrows, modifiers).
std::optional<std::string> textForKeysym(std::uint32_t keysym);

}  // namespace velmora::desktop
