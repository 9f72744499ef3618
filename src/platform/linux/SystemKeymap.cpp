#include "platform/linux/SystemKeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <array>
#include <fstream>
#include <regex>

namespace velmora::desktop {
namespace {

// Key positions are the Linux input layer's codes; XKB numbers the same keys 8 higher.
constexpr xkb_keycode_t kXkbKeycodeOffset = 8;

struct Names {
    std::string model, layout, variant, options;
};

// The variables libxkbcommon reads itself win: only without them is the system file asked.
Names systemNames() {
    Names names;
    if (std::getenv("XKB_DEFAULT_LAYOUT") != nullptr) {
        return names;
    }
    std::ifstream file("/etc/default/keyboard");
    static const std::regex line(R"re(^\s*(XKB\w+)="?([^"]*)"?\s*$)re");
    std::string text;
    while (std::getline(file, text)) {
        std::smatch match;
        if (!std::regex_match(text, match, line)) {
            continue;
        }
        const std::string key = match[1];
        std::string* field = key == "XKBMODEL"     ? &names.model
                             : key == "XKBLAYOUT"  ? &names.layout
                             : key == "XKBVARIANT" ? &names.variant
                             : key == "XKBOPTIONS" ? &names.options
                                                   : nullptr;
        if (field) {
            *field = match[2];
        }
    }
    return names;
}

const char* orDefault(const std::string& value) {
    return value.empty() ? nullptr : value.c_str();
}

}  // namespace

SystemKeymap::SystemKeymap() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr) {
        return;
    }
    const Names names = systemNames();
    const xkb_rule_names rules{nullptr, orDefault(names.model), orDefault(names.layout),
                               orDefault(names.variant), orDefault(names.options)};
    keymap_ = xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
}

SystemKeymap::~SystemKeymap() {
    xkb_keymap_unref(keymap_);
}

namespace {

std::optional<xkb_keysym_t> firstSymbol(xkb_keymap* keymap, platform::Key key) {
    const xkb_keysym_t* symbols = nullptr;
    if (keymap == nullptr || xkb_keymap_key_get_syms_by_level(
                                 keymap, key.position + kXkbKeycodeOffset, 0, 0, &symbols) < 1) {
        return std::nullopt;
    }
    return symbols[0];
}

}  // namespace

std::optional<std::string> SystemKeymap::keysymName(platform::Key key) const {
    const auto symbol = firstSymbol(keymap_, key);
    std::array<char, 64> name{};
    if (!symbol || xkb_keysym_get_name(*symbol, name.data(), name.size()) <= 0) {
        return std::nullopt;
    }
    return std::string(name.data());
}

std::optional<std::string> SystemKeymap::text(platform::Key key) const {
    const auto symbol = firstSymbol(keymap_, key);
    return symbol ? textForKeysym(*symbol) : std::nullopt;
}

std::optional<std::string> textForKeysym(std::uint32_t keysym) {
    std::array<char, 16> buffer{};
    const int written = xkb_keysym_to_utf8(keysym, buffer.data(), buffer.size());
    if (written <= 1) {
        return std::nullopt;
    }
    return std::string(buffer.data());
}

std::string modifierGlyph(platform::Modifier modifier) {
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
