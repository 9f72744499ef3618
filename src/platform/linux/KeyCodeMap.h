#pragma once

namespace velmora::desktop {

// The logic speaks virtual key codes named after key positions on an ANSI keyboard (35 is the
// key labelled P on a US keyboard). X11 key codes also name positions (evdev code + 8), so one
// table maps between them whatever the layout; the key's symbol comes from the layout elsewhere.

// The virtual key code of an X key code, or -1 for a position without one.
int virtualKeyCodeForXKeycode(int xKeycode);

// The X key code of a virtual key code, or -1.
int xKeycodeForVirtualKeyCode(int virtualKeyCode);

}  // namespace velmora::desktop
