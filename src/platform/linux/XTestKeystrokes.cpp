#include "platform/linux/XTestKeystrokes.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "platform/linux/X11Clipboard.h"
#include "platform/linux/X11Connection.h"

namespace velmora::desktop {
namespace {

using platform::Modifier;

constexpr auto kKeyDownTime = std::chrono::milliseconds(10);
constexpr platform::Key kInsert{110};
// X key codes are the Linux input layer's key positions plus 8.
constexpr int kXKeycodeOffset = 8;

using KeyCodes = std::vector<KeyCode>;

// Every key bound to a modifier other than the lock modifiers that the server has down now.
KeyCodes heldModifierKeys(Display* display) {
    KeyCodes held;
    std::array<char, 32> keys{};
    XQueryKeymap(display, keys.data());
    const unsigned int locks = lockModifierMasks(display);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) {
        return held;
    }
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (locks & (1U << modifier)) {
            continue;
        }
        for (int i = 0; i < map->max_keypermod; ++i) {
            const KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code != 0 && ((keys[code / 8] >> (code % 8)) & 1)) {
                held.push_back(code);
            }
        }
    }
    XFreeModifiermap(map);
    return held;
}

// The left-hand keys of the chord's modifiers.
KeyCodes modifierKeys(Display* display, platform::Modifiers modifiers) {
    const std::pair<Modifier, KeySym> table[] = {
        {Modifier::Control, XK_Control_L},
        {Modifier::Shift, XK_Shift_L},
        {Modifier::Alt, XK_Alt_L},
        {Modifier::Super, XK_Super_L},
    };
    KeyCodes keys;
    for (const auto& [modifier, sym] : table) {
        if (modifiers.has(modifier)) {
            if (const KeyCode code = XKeysymToKeycode(display, sym); code != 0) {
                keys.push_back(code);
            }
        }
    }
    return keys;
}

// Counts the key releases the server takes in, from every keyboard, while it lives: those of keys
// it thinks are up already included, which no other query shows. Without XInput 2 it sees none.
class ReleaseWatch {
  public:
    explicit ReleaseWatch(Display* display) : display_(display) {
        int event = 0;
        int error = 0;
        int major = 2;
        int minor = 0;
        if (!XQueryExtension(display, "XInputExtension", &opcode_, &event, &error) ||
            XIQueryVersion(display, &major, &minor) != Success) {
            opcode_ = -1;
            return;
        }
        select(true);
        XSync(display, False);
        counts();
        released_.clear();
    }
    ~ReleaseWatch() {
        if (opcode_ >= 0) {
            select(false);
            XSync(display_, False);
            counts();
        }
    }
    ReleaseWatch(const ReleaseWatch&) = delete;
    ReleaseWatch& operator=(const ReleaseWatch&) = delete;

    bool watching() const { return opcode_ >= 0; }

    // The releases of each key so far; the caller has synced with the server.
    const std::map<int, int>& counts() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != opcode_ ||
                !XGetEventData(display_, cookie)) {
                continue;
            }
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            // Each release comes once for its own device and once more for its master.
            if (cookie->evtype == XI_RawKeyRelease && raw->deviceid == raw->sourceid) {
                ++released_[raw->detail];
            }
            XFreeEventData(display_, cookie);
        }
        return released_;
    }

  private:
    void select(bool on) {
        std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
        if (on) {
            XISetMask(bits.data(), XI_RawKeyRelease);
        }
        XIEventMask mask{XIAllDevices, static_cast<int>(bits.size()), bits.data()};
        XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
    }

    Display* display_;
    int opcode_ = -1;
    std::map<int, int> released_;
};

void fake(Display* display, const KeyCodes& keys, bool down) {
    for (const KeyCode code : keys) {
        XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime);
    }
}

}  // namespace

XTestKeystrokes::XTestKeystrokes(std::shared_ptr<X11Connection> connection, X11Clipboard* clipboard,
                                 TerminalWindows terminals)
    : connection_(std::move(connection)), clipboard_(clipboard), terminals_(std::move(terminals)) {}

platform::Capability XTestKeystrokes::permission(bool) {
    // X11 has no per-program consent to post input: whoever reaches the display with XTEST may.
    if (connection_->display() == nullptr) {
        return platform::Capability::no(
            "Velmora types into other programs only in an X11 session, and this session has no "
            "X display. Log in to an X11 session to rewrite text.");
    }
    if (!connection_->hasXTest()) {
        return platform::Capability::no(
            "The X server does not offer the XTEST extension that Velmora types with. Enable "
            "XTEST in the X server's configuration.");
    }
    return platform::Capability::yes();
}

platform::KeystrokeResult XTestKeystrokes::send(platform::Keystroke keystroke) {
    Display* display = connection_->display();
    if (display == nullptr || !connection_->hasXTest()) {
        return platform::KeystrokeResult::failed(permission(false).explanation);
    }
    const bool copy = keystroke == platform::Keystroke::Copy;
    const CopyPasteStyle style = terminals_.focusedStyle(display);
    if (style == CopyPasteStyle::ControlChords) {
        return press(display, {copy ? platform::keys::C : platform::keys::V, Modifier::Control});
    }
    if (clipboard_ == nullptr) {
        return platform::KeystrokeResult::failed("The X11 clipboard is not available.");
    }
    // A terminal with nothing selected would take its copy keys for something else (Ctrl+C
    // interrupts its job), and xterm would copy another window's selection.
    if (copy && !clipboard_->focusedApplicationHoldsPrimary()) {
        return platform::KeystrokeResult::nothingSelected();
    }
    if (style == CopyPasteStyle::ShiftChords) {
        return press(display, {copy ? platform::keys::C : platform::keys::V,
                               Modifier::Control | Modifier::Shift});
    }
    // The terminal's selection is PRIMARY already: copying is taking it to the clipboard, and
    // pasting is offering the clipboard's text as PRIMARY to Shift+Insert.
    if (copy) {
        if (const auto text = clipboard_->primaryText()) {
            clipboard_->setText(*text);
        }
        return platform::KeystrokeResult::sent();
    }
    if (const auto text = clipboard_->text()) {
        clipboard_->offerPrimaryForPaste(*text);
    }
    return press(display, {kInsert, Modifier::Shift});
}

platform::KeystrokeResult XTestKeystrokes::press(Display* display,
                                                 const platform::Shortcut& chord) {
    const KeyCode key = static_cast<KeyCode>(chord.key.position + kXKeycodeOffset);
    const KeyCodes modifiers = modifierKeys(display, chord.modifiers);
    ReleaseWatch releases(display);
    // Lifted rather than waited for: the user lets go of the shortcut whenever they like.
    const KeyCodes lifted = heldModifierKeys(display);

    fake(display, lifted, false);
    fake(display, modifiers, true);
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XFlush(display);
    std::this_thread::sleep_for(kKeyDownTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    fake(display, modifiers, false);
    XSync(display, False);
    // The server's modifier state goes back to what the user still holds. A key the user let go
    // meanwhile was released once more than by us; pressing it again would leave it stuck down.
    const std::map<int, int>& released = releases.counts();
    KeyCodes held;
    for (const KeyCode code : lifted) {
        const auto found = released.find(code);
        const int ours = 1 + static_cast<int>(std::count(modifiers.begin(), modifiers.end(), code));
        if (!releases.watching() || found == released.end() || found->second <= ours) {
            held.push_back(code);
        }
    }
    fake(display, held, true);
    XSync(display, False);
    if (connection_->lost()) {
        return platform::KeystrokeResult::failed(
            "Velmora lost its connection to the X display while typing.");
    }
    return platform::KeystrokeResult::sent();
}

}  // namespace velmora::desktop
