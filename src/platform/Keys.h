#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::platform {

// A key by its position on the keyboard, whatever the layout prints on it. Positions are numbered
// as the Linux input layer numbers them (the key labelled P on a US keyboard is 25); what a key
// types comes from the current layout (KeyNames).
struct Key {
    std::uint16_t position = 0;

    bool operator==(const Key&) const = default;
    bool isModifier() const;
};

namespace keys {
inline constexpr Key Escape{1};
inline constexpr Key LeftControl{29};
inline constexpr Key C{46};
inline constexpr Key V{47};
inline constexpr Key P{25};
}  // namespace keys

enum class Modifier : std::uint8_t { Control = 1, Shift = 2, Alt = 4, Super = 8 };

// A set of modifiers.
class Modifiers {
  public:
    constexpr Modifiers() = default;
    constexpr Modifiers(Modifier m) : bits_(static_cast<std::uint8_t>(m)) {}

    constexpr bool has(Modifier m) const { return (bits_ & static_cast<std::uint8_t>(m)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr Modifiers operator|(Modifiers other) const { return fromBits(bits_ | other.bits_); }
    constexpr Modifiers& operator|=(Modifiers other) { return *this = *this | other; }
    constexpr bool operator==(const Modifiers&) const = default;
    constexpr std::uint8_t bits() const { return bits_; }
    static constexpr Modifiers fromBits(unsigned bits) {
        Modifiers m;
        m.bits_ = static_cast<std::uint8_t>(bits & 0x0f);
        return m;
    }

  private:
    std::uint8_t bits_ = 0;
};

constexpr Modifiers operator|(Modifier a, Modifier b) {
    return Modifiers(a) | Modifiers(b);
}

// A key combination: one key and the modifiers held with it.
struct Shortcut {
    Key key;
    Modifiers modifiers;

    bool operator==(const Shortcut&) const = default;
};

// What the current keyboard layout calls keys and modifiers.
class KeyNames {
  public:
    virtual ~KeyNames() = default;
    // What the key types without modifiers (UTF-8); none when the layout gives it no character.
    virtual std::optional<std::string> keyName(Key key) = 0;
    // How a modifier is written in front of a key ("Ctrl+").
    virtual std::string modifierGlyph(Modifier modifier) = 0;
};

}  // namespace velmora::platform
