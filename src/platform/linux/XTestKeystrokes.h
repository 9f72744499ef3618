#pragma once

#include <memory>

#include "platform/Keys.h"
#include "platform/Keystrokes.h"
#include "platform/linux/TerminalWindows.h"

typedef struct _XDisplay Display;

namespace velmora::desktop {

class X11Clipboard;
class X11Connection;

// Keystrokes on X11 through XTEST. The shortcut's own modifiers are usually still held when the
// keystroke goes out, and a target seeing Ctrl+Shift+C does not copy: held modifiers are lifted
// for the chord and put back after it. Terminals get their own chords, and their copy keys only
// while they have a selection (own PRIMARY); those whose selection is PRIMARY get the selection
// moved between PRIMARY and the clipboard. Keys fail, rather than the process, when XTEST is
// missing or the server drops the connection.
class XTestKeystrokes : public platform::Keystrokes {
  public:
    XTestKeystrokes(std::shared_ptr<X11Connection> connection, X11Clipboard* clipboard,
                    TerminalWindows terminals);

    platform::Capability permission(bool mayAsk) override;
    platform::KeystrokeResult send(platform::Keystroke keystroke) override;

  private:
    platform::KeystrokeResult press(Display* display, const platform::Shortcut& chord);

    std::shared_ptr<X11Connection> connection_;
    X11Clipboard* clipboard_;
    TerminalWindows terminals_;
};

}  // namespace velmora::desktop
