#pragma once

#include <X11/Xlib.h>

#include <memory>

#include "platform/Accessibility.h"
#include "platform/Clipboard.h"
#include "platform/HotKeys.h"
#include "platform/KeyEvents.h"

// The pieces behind makeInputServices(). Xlib's macros leak into whoever includes this header, so
// only the X11 implementation files do.
namespace velmora::desktop {

// The process's own Xlib connection for queries and XTest; Qt's connection stays Qt's. Opened on
// first use and again after a failed attempt, so a display that appears later is found.
class X11Connection {
  public:
    X11Connection() = default;
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // The display, or nullptr when no X server is reachable.
    Display* display();
    bool hasXTest();

  private:
    Display* display_ = nullptr;
};

// The modifier masks that stand for lock keys (Caps Lock, Num Lock, Scroll Lock) on this server;
// zero for a lock key that is not mapped.
struct LockMasks {
    unsigned int capsLock = 0;
    unsigned int numLock = 0;
    unsigned int scrollLock = 0;

    unsigned int all() const { return capsLock | numLock | scrollLock; }
};
LockMasks lockMasks(Display* display);

std::unique_ptr<platform::HotKeys> makeX11HotKeys();
std::unique_ptr<platform::KeyboardLayout> makeX11KeyboardLayout(
    std::shared_ptr<X11Connection> connection);
std::unique_ptr<platform::KeyEvents> makeXTestKeyEvents(std::shared_ptr<X11Connection> connection);
std::unique_ptr<platform::Clipboard> makeQtClipboard();

}  // namespace velmora::desktop
