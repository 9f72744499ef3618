#include "platform/linux/X11Connection.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <mutex>

namespace velmora::desktop {
namespace {

// Xlib calls this, then the connection's own exit handler, when a connection breaks. Its default
// ends the process; the exit handler does that for every connection but ours.
int returnOnLostConnection(Display*) {
    return 0;
}

}  // namespace

X11Connection::~X11Connection() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

void X11Connection::onLost(Display*, void* connection) {
    static_cast<X11Connection*>(connection)->lost_ = true;
}

Display* X11Connection::display() {
    if (lost_) {
        XCloseDisplay(display_);
        display_ = nullptr;
        lost_ = false;
    }
    if (display_ == nullptr && enabled_) {
        display_ = XOpenDisplay(nullptr);
        if (display_ != nullptr) {
            static std::once_flag installed;
            std::call_once(installed, [] { XSetIOErrorHandler(returnOnLostConnection); });
            XSetIOErrorExitHandler(display_, onLost, this);
        }
    }
    return display_;
}

bool X11Connection::hasXTest() {
    Display* dpy = display();
    if (dpy == nullptr) {
        return false;
    }
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XTestQueryExtension(dpy, &eventBase, &errorBase, &major, &minor) == True;
}

unsigned int lockModifierMasks(Display* display) {
    unsigned int masks = LockMask;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) {
        return masks;
    }
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            const KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code == 0) {
                continue;
            }
            const KeySym sym = XkbKeycodeToKeysym(display, code, 0, 0);
            if (sym == XK_Num_Lock || sym == XK_Scroll_Lock) {
                masks |= 1U << modifier;
            }
        }
    }
    XFreeModifiermap(map);
    return masks;
}

}  // namespace velmora::desktop
