#pragma once

#include <string>

#include "platform/Capability.h"

namespace velmora::platform {

enum class Keystroke {
    Copy,   // copy the focused application's selection to the clipboard
    Paste,  // paste the clipboard over the focused application's selection
};

// What became of a keystroke.
struct KeystrokeResult {
    enum class Outcome {
        Sent,
        // Nothing was sent: the focused application has no selection to copy (a terminal, whose
        // copy keys would do something else without one).
        NothingSelected,
        // The system refused or lost the keys; `message` says why, in its own words.
        Failed,
    };
    Outcome outcome = Outcome::Sent;
    std::string message;

    static KeystrokeResult sent() { return {}; }
    static KeystrokeResult nothingSelected() { return {Outcome::NothingSelected, {}}; }
    static KeystrokeResult failed(std::string message) {
        return {Outcome::Failed, std::move(message)};
    }
    bool operator==(const KeystrokeResult&) const = default;
};

// Keystrokes into the focused application. Each implementation chooses how (a key chord, the
// application's own chord for a terminal, a portal, a virtual keyboard).
class Keystrokes {
  public:
    virtual ~Keystrokes() = default;
    // Whether keystrokes can be sent. With `mayAsk` the system may ask the user for consent.
    virtual Capability permission(bool mayAsk) = 0;
    // Sends the keystroke and returns once its key-up has been posted.
    virtual KeystrokeResult send(Keystroke keystroke) = 0;
};

}  // namespace velmora::platform
