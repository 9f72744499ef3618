#pragma once

// Xlib's own declaration, so this header brings none of Xlib's macros along.
typedef struct _XDisplay Display;

namespace velmora::desktop {

// The process's own Xlib connection for queries and XTest; Qt's connection stays Qt's. Opened on
// first use and again after a failed attempt, so a display that appears later is found. In a
// session that is not X11 it stays closed: an X server there (XWayland) does not see the user's
// windows.
class X11Connection {
  public:
    explicit X11Connection(bool sessionIsX11 = true) : enabled_(sessionIsX11) {}
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // The display, or nullptr when no X server is reachable. A connection the server dropped is
    // closed here and opened again.
    Display* display();
    bool hasXTest();
    // Whether the server dropped the connection (it was shut down or reset). Xlib would end the
    // process; here the calls made meanwhile do nothing.
    bool lost() const { return lost_; }

  private:
    static void onLost(Display* display, void* connection);

    bool enabled_;
    Display* display_ = nullptr;
    bool lost_ = false;
};

// The modifier masks that stand for lock keys (Caps Lock, Num Lock, Scroll Lock) on this server.
unsigned int lockModifierMasks(Display* display);

}  // namespace velmora::desktop
