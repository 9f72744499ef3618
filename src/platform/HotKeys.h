#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::platform {

using PlatformHandle = std::uint64_t;
using HotKeyStatus = std::int32_t;

inline constexpr HotKeyStatus noErr = 0;
inline constexpr HotKeyStatus eventNotHandledErr = -9874;

// Carbon modifier mask bits, the shortcut's own representation.
inline constexpr std::uint32_t cmdKey = 0x0100;
inline constexpr std::uint32_t shiftKey = 0x0200;
inline constexpr std::uint32_t optionKey = 0x0800;
inline constexpr std::uint32_t controlKey = 0x1000;

struct HotKeyID {
    std::uint32_t signature = 0;
    std::uint32_t id = 0;
};

// System-wide hot keys. The handler is a plain callback entered on the main thread, during event
// dispatch, with the user data given at installation; every hot key press delivered to the
// application reaches it.
class HotKeys {
  public:
    using Handler = HotKeyStatus (*)(void* userData);

    virtual ~HotKeys() = default;
    virtual HotKeyStatus installEventHandler(Handler handler, void* userData,
                                             PlatformHandle& outHandle) = 0;
    // Key code: virtual (ANSI position) key code; modifiers: Carbon mask. A combination held by
    // another program answers a non-zero status.
    virtual HotKeyStatus registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID id,
                                        PlatformHandle& outHandle) = 0;
    virtual HotKeyStatus unregisterHotKey(PlatformHandle handle) = 0;
    virtual HotKeyStatus removeEventHandler(PlatformHandle handle) = 0;
};

enum class Modifier { Command, Shift, Option, Control };

// The current keyboard layout.
class KeyboardLayout {
  public:
    virtual ~KeyboardLayout() = default;
    // What the key types without modifiers under the current layout (UTF-8): none when there is
    // no layout, empty when the key produces nothing.
    virtual std::optional<std::string> unshiftedCharacters(std::uint16_t keyCode) = 0;
    // How a modifier is written in a shortcut's display string ("⌘", or "Ctrl+").
    virtual std::string modifierGlyph(Modifier modifier) = 0;
};

}  // namespace velmora::platform
