#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/linux/KeyCodeMap.h"
#include "platform/linux/X11Input.h"

namespace velmora::desktop {
namespace {

using platform::HotKeyStatus;
using platform::PlatformHandle;

// Carbon's answers for a taken combination and for one that cannot be registered at all.
constexpr HotKeyStatus eventHotKeyExistsErr = -9878;
constexpr HotKeyStatus eventHotKeyInvalidErr = -9879;
constexpr std::uint8_t xcbBadAccess = 10;

// The X modifiers a shortcut may use: Control stands in for Command, Super for Control.
constexpr std::uint16_t shortcutModifierBits =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

std::uint16_t xModifiersForCarbon(std::uint32_t carbon) {
    std::uint16_t mask = 0;
    if (carbon & platform::cmdKey)
        mask |= XCB_MOD_MASK_CONTROL;
    if (carbon & platform::shiftKey)
        mask |= XCB_MOD_MASK_SHIFT;
    if (carbon & platform::optionKey)
        mask |= XCB_MOD_MASK_1;
    if (carbon & platform::controlKey)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

struct Grab {
    xcb_keycode_t keycode = 0;
    std::uint16_t modifiers = 0;
};

struct InstalledHandler {
    platform::HotKeys::Handler handler = nullptr;
    void* userData = nullptr;
};

class X11HotKeys : public platform::HotKeys, public QAbstractNativeEventFilter {
  public:
    X11HotKeys() {
        auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (x11 == nullptr) {
            return;
        }
        connection_ = x11->connection();
        display_ = x11->display();
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        qApp->installNativeEventFilter(this);
    }

    ~X11HotKeys() override {
        if (connection_ == nullptr) {
            return;
        }
        qApp->removeNativeEventFilter(this);
        for (const auto& [handle, grab] : grabs_) {
            ungrab(grab);
        }
        xcb_flush(connection_);
    }

    HotKeyStatus installEventHandler(Handler handler, void* userData,
                                     PlatformHandle& outHandle) override {
        outHandle = nextHandle_++;
        handlers_[outHandle] = {handler, userData};
        return platform::noErr;
    }

    HotKeyStatus registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, platform::HotKeyID,
                                PlatformHandle& outHandle) override {
        const int keycode = xKeycodeForVirtualKeyCode(static_cast<int>(keyCode));
        if (connection_ == nullptr || keycode < 0) {
            return eventHotKeyInvalidErr;
        }
        const Grab grab{static_cast<xcb_keycode_t>(keycode), xModifiersForCarbon(modifiers)};

        std::vector<xcb_void_cookie_t> cookies;
        for (const std::uint16_t variant : lockVariants()) {
            cookies.push_back(xcb_grab_key_checked(connection_, 0, root_, grab.modifiers | variant,
                                                   grab.keycode, XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_ASYNC));
        }
        HotKeyStatus status = platform::noErr;
        for (const xcb_void_cookie_t cookie : cookies) {
            if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
                if (status == platform::noErr) {
                    status = error->error_code == xcbBadAccess ? eventHotKeyExistsErr
                                                               : eventHotKeyInvalidErr;
                }
                free(error);
            }
        }
        if (status != platform::noErr) {
            // Half a shortcut would fire only with some lock keys on; take none of it.
            ungrab(grab);
            xcb_flush(connection_);
            return status;
        }
        outHandle = nextHandle_++;
        grabs_[outHandle] = grab;
        return platform::noErr;
    }

    HotKeyStatus unregisterHotKey(PlatformHandle handle) override {
        const auto found = grabs_.find(handle);
        if (found == grabs_.end()) {
            return eventHotKeyInvalidErr;
        }
        const Grab grab = found->second;
        grabs_.erase(found);
        ungrab(grab);
        xcb_flush(connection_);
        return platform::noErr;
    }

    HotKeyStatus removeEventHandler(PlatformHandle handle) override {
        return handlers_.erase(handle) == 1 ? platform::noErr : eventHotKeyInvalidErr;
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") {
            return false;
        }
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
            return false;
        }
        const auto* press = static_cast<const xcb_key_press_event_t*>(message);
        if (press->event != root_ || !matchesGrab(*press)) {
            return false;
        }
        // The passive grab keeps the keyboard until the key is released; give it back now so
        // the keystrokes the handler posts reach the focused window.
        xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
        xcb_flush(connection_);
        const auto handlers = handlers_;
        for (const auto& [handle, installed] : handlers) {
            installed.handler(installed.userData);
        }
        return true;
    }

  private:
    // Every combination of the lock modifiers, so the shortcut works whichever lock is on.
    std::vector<std::uint16_t> lockVariants() const {
        const LockMasks locks = lockMasks(display_);
        std::vector<std::uint16_t> masks;
        for (const unsigned int mask : {locks.capsLock, locks.numLock, locks.scrollLock}) {
            if (mask != 0 && (mask & shortcutModifierBits) == 0) {
                masks.push_back(static_cast<std::uint16_t>(mask));
            }
        }
        std::vector<std::uint16_t> variants;
        for (unsigned int subset = 0; subset < (1U << masks.size()); ++subset) {
            std::uint16_t variant = 0;
            for (std::size_t i = 0; i < masks.size(); ++i) {
                if (subset & (1U << i))
                    variant |= masks[i];
            }
            variants.push_back(variant);
        }
        return variants;
    }

    bool matchesGrab(const xcb_key_press_event_t& press) const {
        const std::uint16_t modifiers = press.state & shortcutModifierBits;
        for (const auto& [handle, grab] : grabs_) {
            if (grab.keycode == press.detail && grab.modifiers == modifiers) {
                return true;
            }
        }
        return false;
    }

    void ungrab(const Grab& grab) const {
        for (const std::uint16_t variant : lockVariants()) {
            xcb_ungrab_key(connection_, grab.keycode, root_, grab.modifiers | variant);
        }
    }

    xcb_connection_t* connection_ = nullptr;
    Display* display_ = nullptr;
    xcb_window_t root_ = 0;
    PlatformHandle nextHandle_ = 1;
    std::map<PlatformHandle, Grab> grabs_;
    std::map<PlatformHandle, InstalledHandler> handlers_;
};

}  // namespace

std::unique_ptr<platform::HotKeys> makeX11HotKeys() {
    return std::make_unique<X11HotKeys>();
}

}  // namespace velmora::desktop
