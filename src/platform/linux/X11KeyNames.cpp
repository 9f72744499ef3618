#include "platform/linux/X11KeyNames.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include "platform/linux/X11Connection.h"

namespace velmora::desktop {
namespace {

// X key codes are the Linux input layer's key positions plus 8.
constexpr int kXKeycodeOffset = 8;

}  // namespace

X11KeyNames::X11KeyNames(std::shared_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {}

std::optional<std::string> X11KeyNames::keyName(platform::Key key) {
    Display* display = connection_ ? connection_->display() : nullptr;
    if (display == nullptr) {
        return systemKeymap_.text(key);
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
        text =
            textForKeysym(static_cast<std::uint32_t>(XkbKeySymEntry(keyboard, keycode, 0, group)));
    }
    XkbFreeKeyboard(keyboard, 0, True);
    return text;
}

std::string X11KeyNames::modifierGlyph(platform::Modifier modifier) {
    return desktop::modifierGlyph(modifier);
}

}  // namespace velmora::desktop
