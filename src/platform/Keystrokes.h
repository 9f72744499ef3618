#pragma once

#include "platform/Capability.h"

namespace velmora::platform {

enum class Keystroke {
    Copy,   // copy the focused application's selection to the clipboard
    Paste,  // paste the clipboard over the focused application's selection
};

// Keystrokes into the focused application. Each implementation chooses how (a key chord, the
// application's own chord for a terminal, a portal, a virtual keyboard).
class Keystrokes {
  public:
    virtual ~Keystrokes() = default;
    // Whether keystrokes can be sent. With `mayAsk` the system may ask the user for consent.
    virtual Capability permission(bool mayAsk) = 0;
    // Sends the keystroke and returns once its key-up has been posted.
    virtual void send(Keystroke keystroke) = 0;
};

}  // namespace velmora::platform
