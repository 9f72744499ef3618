#pragma once

#include <cstdint>
#include <optional>

namespace velmora::platform {

// Modifier flags of a synthetic key event; the given mask replaces the event's own.
inline constexpr std::uint64_t eventFlagMaskShift = 0x20000;
inline constexpr std::uint64_t eventFlagMaskControl = 0x40000;
inline constexpr std::uint64_t eventFlagMaskAlternate = 0x80000;
inline constexpr std::uint64_t eventFlagMaskCommand = 0x100000;

// A keyboard event: a virtual key code (ANSI positions) and the complete modifier mask.
struct KeyEvent {
    std::uint16_t keyCode = 0;
    bool keyDown = true;
    std::uint64_t flags = 0;
};

// Synthetic keystrokes into the focused application.
class KeyEvents {
  public:
    virtual ~KeyEvents() = default;
    // Whether an event source could be created.
    virtual bool createSource() = 0;
    // An event for the key, or none when it could not be made.
    virtual std::optional<KeyEvent> createKeyboardEvent(bool haveSource, std::uint16_t keyCode,
                                                        bool keyDown) = 0;
    // Posts the event into the input stream, carrying exactly its flags.
    virtual void post(const KeyEvent& event) = 0;
    // The listen-only keyboard tap made and dropped at launch; nothing depends on it.
    virtual void createAndReleaseEventTap() = 0;
};

}  // namespace velmora::platform
