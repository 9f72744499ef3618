#include "platform/linux/X11Connection.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace velmora::desktop {

X11Connection::~X11Connection() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

Display* X11Connection::display() {
    if (display_ == nullptr && enabled_) {
        display_ = XOpenDisplay(nullptr);
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
