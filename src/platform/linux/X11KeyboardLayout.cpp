#include <X11/XKBlib.h>
#include <xkbcommon/xkbcommon.h>

#include <array>

#include "platform/linux/KeyCodeMap.h"
#include "platform/linux/X11Input.h"

namespace velmora::desktop {
namespace {

// What a keysym types, as UTF-8; empty for keysyms that type nothing (arrows, modifiers).
std::string textForKeysym(KeySym sym) {
    std::array<char, 16> buffer{};
    const int written =
        xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(sym), buffer.data(), buffer.size());
    if (written <= 1) {
        return {};
    }
    return std::string(buffer.data());
}

class X11KeyboardLayout : public platform::KeyboardLayout {
  public:
    explicit X11KeyboardLayout(std::shared_ptr<X11Connection> connection)
        : connection_(std::move(connection)) {}

    std::optional<std::string> unshiftedCharacters(std::uint16_t keyCode) override {
        Display* display = connection_->display();
        if (display == nullptr) {
            return std::nullopt;
        }
        const int keycode = xKeycodeForVirtualKeyCode(keyCode);
        if (keycode < 0) {
            return std::string();
        }
        // The map is fetched afresh: this connection reads no events, so it would never hear of
        // a layout switched since the last call.
        XkbDescPtr keyboard = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
        if (keyboard == nullptr) {
            return std::nullopt;
        }
        XkbStateRec state{};
        XkbGetState(display, XkbUseCoreKbd, &state);
        std::string text;
        const bool mapped = keycode >= keyboard->min_key_code && keycode <= keyboard->max_key_code;
        const int groups = mapped ? XkbKeyNumGroups(keyboard, keycode) : 0;
        if (groups > 0) {
            const int group = state.group < groups ? state.group : 0;
            text = textForKeysym(XkbKeySymEntry(keyboard, keycode, 0, group));
        }
        XkbFreeKeyboard(keyboard, 0, True);
        return text;
    }

    std::string modifierGlyph(platform::Modifier modifier) override {
        switch (modifier) {
            case platform::Modifier::Command:
                return "Ctrl+";
            case platform::Modifier::Shift:
                return "Shift+";
            case platform::Modifier::Option:
                return "Alt+";
            case platform::Modifier::Control:
                return "Super+";
        }
        return {};
    }

  private:
    std::shared_ptr<X11Connection> connection_;
};

}  // namespace

std::unique_ptr<platform::KeyboardLayout> makeX11KeyboardLayout(
    std::shared_ptr<X11Connection> connection) {
    return std::make_unique<X11KeyboardLayout>(std::move(connection));
}

}  // namespace velmora::desktop
