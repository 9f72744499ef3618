#pragma once

#include <memory>

#include "platform/Keys.h"
#include "platform/Keystrokes.h"

typedef struct _XDisplay Display;

namespace velmora::desktop {

class X11Connection;

// Keystrokes on X11 through XTEST. The shortcut's own modifiers are usually still held when the
// keystroke goes out, and a target seeing Ctrl+Shift+C does not copy: held modifiers are lifted
// for the chord and put back after it.
class XTestKeystrokes : public platform::Keystrokes {
  public:
    explicit XTestKeystrokes(std::shared_ptr<X11Connection> connection);

    platform::Capability permission(bool mayAsk) override;
    void send(platform::Keystroke keystroke) override;

  private:
    // The chord that performs the keystroke in the focused window.
    platform::Shortcut chordFor(platform::Keystroke keystroke, Display* display) const;

    std::shared_ptr<X11Connection> connection_;
};

}  // namespace velmora::desktop
