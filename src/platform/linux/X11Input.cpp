#include "platform/linux/X11Input.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "platform/linux/LinuxServices.h"

namespace velmora::desktop {

X11Connection::~X11Connection() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

Display* X11Connection::display() {
    if (display_ == nullptr) {
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

LockMasks lockMasks(Display* display) {
    LockMasks masks;
    masks.capsLock = LockMask;
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
            if (sym == XK_Num_Lock) {
                masks.numLock |= 1U << modifier;
            } else if (sym == XK_Scroll_Lock) {
                masks.scrollLock |= 1U << modifier;
            }
        }
    }
    XFreeModifiermap(map);
    return masks;
}

namespace {

// X11 has no per-process permission to post input: whoever reaches the display with XTEST may.
// Without an X display (a Wayland session without XWayland) nothing can be posted.
class X11Accessibility : public platform::Accessibility {
  public:
    explicit X11Accessibility(std::shared_ptr<X11Connection> connection)
        : connection_(std::move(connection)) {}

    bool isProcessTrusted() override { return connection_->hasXTest(); }
    bool isProcessTrustedWithPrompt() override { return isProcessTrusted(); }

  private:
    std::shared_ptr<X11Connection> connection_;
};

}  // namespace

InputServices makeInputServices() {
    auto connection = std::make_shared<X11Connection>();
    InputServices services;
    services.hotKeys = makeX11HotKeys();
    services.keyboardLayout = makeX11KeyboardLayout(connection);
    services.keyEvents = makeXTestKeyEvents(connection);
    services.accessibility = std::make_unique<X11Accessibility>(connection);
    services.clipboard = makeQtClipboard();
    return services;
}

}  // namespace velmora::desktop
