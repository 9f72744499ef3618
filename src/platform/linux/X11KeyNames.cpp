#include "platform/linux/X11KeyNames.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <xkbcommon/xkbcommon.h>

#include <array>

#include "platform/linux/X11Connection.h"

namespace velmora::desktop {
namespace {

// X key codes are the Linux input layer's key positions plus 8.
constexpr int kXKeycodeOffset = 8;

// What a keysym types, as UTF-8; none for keysyms that type nothing (arrows, modifiers).
std::optional<std::string> textForKeysym(KeySym sym) {
    std::array<char, 16> buffer{};
    const int written =
        xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(sym), buffer.data(), buffer.size());
    if (written <= 1) {
        return std::nullopt;
    }
    return std::string(buffer.data());
}

}  // namespace

X11KeyNames::X11KeyNames(std::shared_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {}

std::optional<std::string> X11KeyNames::keyName(platform::Key key) {
    Display* display = connection_->display();
    if (display == nullptr) {
        return std::nullopt;
    }
    const int keycode = key.position + kXKeycodeOffset;
    // The map is fetched afresh: this connection reads no events, so it would never hear of a
    // layout switched since the last call.
    XkbDescPtr keyboard = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (keyboard == nullptr) {
        return std::nullopt;
    }
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    std::optional<std::string> text;
    const bool mapped = keycode >= keyboard->min_key_code && keycode <= keyboard->max_key_code;
    const int groups = mapped ? XkbKeyNumGroups(keyboard, keycode) : 0;
    if (groups > 0) {
        const int group = state.group < groups ? state.group : 0;
        text = textForKeysym(XkbKeySymEntry(keyboard, keycode, 0, group));
    }
    XkbFreeKeyboard(keyboard, 0, True);
    return text;
}

std::string X11KeyNames::modifierGlyph(platform::Modifier modifier) {
    switch (modifier) {
        case platform::Modifier::Control:
            return "Ctrl+";
        case platform::Modifier::Shift:
            return "Shift+";
        case platform::Modifier::Alt:
            return "Alt+";
        case platform::Modifier::Super:
            return "Super+";
    }
    return {};
}

}  // namespace velmora::desktop
