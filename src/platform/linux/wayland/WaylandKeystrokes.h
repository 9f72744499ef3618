#pragma once

#include <memory>

#include "platform/Keystrokes.h"

namespace velmora::desktop {

class WaylandConnection;

// Keystrokes through the compositor's virtual-keyboard protocol (sway and other wlroots
// compositors). A compositor that refuses the keyboard closes the whole connection, so a
// connection of its own keeps the clipboard safe from that. nullptr when the compositor does not
// offer the protocol or did not take the keyboard.
std::unique_ptr<platform::Keystrokes> makeVirtualKeyboardKeystrokes(
    std::shared_ptr<WaylandConnection> connection);

}  // namespace velmora::desktop
