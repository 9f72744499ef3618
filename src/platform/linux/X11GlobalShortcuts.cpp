#include "platform/linux/X11GlobalShortcuts.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <vector>

#include "platform/linux/X11Connection.h"

namespace velmora::desktop {
namespace {

using platform::BindResult;
using platform::BindStatus;
using platform::Modifier;

constexpr std::uint8_t kBadAccess = 10;
constexpr int kReleasePollMs = 20;
// X key codes are the Linux input layer's key positions plus 8, and fit in a byte.
constexpr int kXKeycodeOffset = 8;
constexpr int kMaxXKeycode = 255;

constexpr std::uint16_t kShortcutModifierBits =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

std::uint16_t xModifiers(platform::Modifiers modifiers) {
    std::uint16_t mask = 0;
    if (modifiers.has(Modifier::Control)) {
        mask |= XCB_MOD_MASK_CONTROL;
    }
    if (modifiers.has(Modifier::Shift)) {
        mask |= XCB_MOD_MASK_SHIFT;
    }
    if (modifiers.has(Modifier::Alt)) {
        mask |= XCB_MOD_MASK_1;
    }
    if (modifiers.has(Modifier::Super)) {
        mask |= XCB_MOD_MASK_4;
    }
    return mask;
}

// Every combination of the lock modifiers on this server.
std::vector<std::uint16_t> lockVariants(Display* display) {
    std::vector<std::uint16_t> masks;
    const unsigned int locks = lockModifierMasks(display) & ~unsigned{kShortcutModifierBits};
    for (unsigned int bit = 1; bit <= 0x80; bit <<= 1) {
        if (locks & bit) {
            masks.push_back(static_cast<std::uint16_t>(bit));
        }
    }
    std::vector<std::uint16_t> variants;
    for (unsigned int subset = 0; subset < (1U << masks.size()); ++subset) {
        std::uint16_t variant = 0;
        for (std::size_t i = 0; i < masks.size(); ++i) {
            if (subset & (1U << i)) {
                variant |= masks[i];
            }
        }
        variants.push_back(variant);
    }
    return variants;
}

}  // namespace

class X11GlobalShortcuts::Binding : public platform::ShortcutBinding {
  public:
    Binding(X11GlobalShortcuts* owner, int id) : owner_(owner), id_(id) {}
    ~Binding() override {
        if (owner_) {
            owner_->unbind(id_);
        }
    }

  private:
    X11GlobalShortcuts* owner_;
    int id_;
};

X11GlobalShortcuts::X11GlobalShortcuts() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    // Other platforms (offscreen) may offer the interface without a connection behind it.
    if (x11 == nullptr || x11->connection() == nullptr) {
        return;
    }
    connection_ = x11->connection();
    display_ = x11->display();
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    qApp->installNativeEventFilter(this);
    releasePoll_.setInterval(kReleasePollMs);
    QObject::connect(&releasePoll_, &QTimer::timeout, &releasePoll_, [this] { pollHeldKeys(); });
}

X11GlobalShortcuts::~X11GlobalShortcuts() {
    if (connection_ == nullptr) {
        return;
    }
    qApp->removeNativeEventFilter(this);
    for (const auto& [id, grab] : grabs_) {
        ungrab(grab);
    }
    xcb_flush(connection_);
}

std::unique_ptr<platform::ShortcutBinding> X11GlobalShortcuts::bind(
    const platform::Shortcut& shortcut, Pressed pressed, Outcome outcome) {
    BindResult result;
    const int keycode = shortcut.key.position + kXKeycodeOffset;
    if (connection_ == nullptr) {
        result = {BindStatus::Unavailable,
                  "Global shortcuts need an X11 session, and this session has no X display. Log "
                  "in to an X11 session to use the shortcut.",
                  std::nullopt};
    } else if (shortcut.key.position == 0 || keycode > kMaxXKeycode) {
        result = {BindStatus::Unavailable,
                  "This key cannot be part of a global shortcut. Choose another key.",
                  std::nullopt};
    } else {
        const Grab wanted{static_cast<std::uint8_t>(keycode), xModifiers(shortcut.modifiers),
                          std::move(pressed), false};
        result = grab(wanted);
        if (result.status == BindStatus::Bound) {
            const int id = nextId_++;
            grabs_[id] = wanted;
            outcome(result);
            return std::make_unique<Binding>(this, id);
        }
    }
    outcome(result);
    return std::make_unique<Binding>(nullptr, 0);
}

BindResult X11GlobalShortcuts::grab(const Grab& wanted) {
    std::vector<xcb_void_cookie_t> cookies;
    for (const std::uint16_t variant : lockVariants(display_)) {
        cookies.push_back(xcb_grab_key_checked(connection_, 0, root_, wanted.modifiers | variant,
                                               wanted.keycode, XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC));
    }
    BindResult result;
    for (const xcb_void_cookie_t cookie : cookies) {
        xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
        if (error == nullptr) {
            continue;
        }
        if (result.status == BindStatus::Bound) {
            result = error->error_code == kBadAccess
                         ? BindResult{BindStatus::Taken,
                                      "Another program already uses this key combination. "
                                      "Choose a different shortcut, or free it in that program.",
                                      std::nullopt}
                         : BindResult{BindStatus::Unavailable,
                                      "The X server would not set up this shortcut. Choose a "
                                      "different shortcut.",
                                      std::nullopt};
        }
        std::free(error);
    }
    if (result.status != BindStatus::Bound) {
        // Half a shortcut would fire only with some lock keys on; take none of it.
        ungrab(wanted);
        xcb_flush(connection_);
    }
    return result;
}

void X11GlobalShortcuts::ungrab(const Grab& grab) {
    for (const std::uint16_t variant : lockVariants(display_)) {
        xcb_ungrab_key(connection_, grab.keycode, root_, grab.modifiers | variant);
    }
}

void X11GlobalShortcuts::unbind(int id) {
    const auto found = grabs_.find(id);
    if (found == grabs_.end()) {
        return;
    }
    ungrab(found->second);
    xcb_flush(connection_);
    grabs_.erase(found);
}

bool X11GlobalShortcuts::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
        return false;
    }
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    if (press->event != root_) {
        return false;
    }
    const std::uint16_t modifiers = press->state & kShortcutModifierBits;
    for (auto& [id, grab] : grabs_) {
        if (grab.keycode != press->detail || grab.modifiers != modifiers) {
            continue;
        }
        // The passive grab holds the keyboard until the key is released; give it back now so
        // the keystrokes that follow reach the focused window.
        xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
        xcb_flush(connection_);
        if (grab.held) {
            return true;
        }
        grab.held = true;
        releasePoll_.start();
        // `pressed` may drop this very binding.
        const Pressed pressed = grab.pressed;
        pressed();
        return true;
    }
    return false;
}

void X11GlobalShortcuts::pollHeldKeys() {
    xcb_query_keymap_reply_t* keymap =
        xcb_query_keymap_reply(connection_, xcb_query_keymap(connection_), nullptr);
    if (keymap == nullptr) {
        return;
    }
    bool anyHeld = false;
    for (auto& [id, grab] : grabs_) {
        const bool down = (keymap->keys[grab.keycode / 8] >> (grab.keycode % 8)) & 1;
        grab.held = grab.held && down;
        anyHeld = anyHeld || grab.held;
    }
    std::free(keymap);
    if (!anyHeld) {
        releasePoll_.stop();
    }
}

}  // namespace velmora::desktop
