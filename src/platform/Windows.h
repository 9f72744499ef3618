#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Panel.h"

namespace velmora::platform {

inline constexpr int modalPanelWindowLevel = 8;

// A key event seen by a window's local monitor before any control: key-down or modifier change,
// with the virtual key code of the key's position and the event modifier flags.
struct KeyboardEventInfo {
    enum class Type { KeyDown = 10, FlagsChanged = 12 };
    Type type = Type::KeyDown;
    std::uint16_t keyCode = 0;
    std::uint64_t modifierFlags = 0;
};

inline constexpr std::uint64_t eventModifierFlagCapsLock = 0x10000;
inline constexpr std::uint64_t eventModifierFlagShift = 0x20000;
inline constexpr std::uint64_t eventModifierFlagControl = 0x40000;
inline constexpr std::uint64_t eventModifierFlagOption = 0x80000;
inline constexpr std::uint64_t eventModifierFlagCommand = 0x100000;
inline constexpr std::uint64_t eventModifierFlagNumericPad = 0x200000;
inline constexpr std::uint64_t eventModifierFlagFunction = 0x800000;

// What the shortcut editor window shows and how it answers the user. Implemented by the logic; the
// window renders it again whenever `onChange` fires.
class ShortcutEditorModel {
  public:
    virtual ~ShortcutEditorModel() = default;
    virtual bool isRecording() const = 0;
    virtual std::string currentShortcutDisplay() const = 0;
    // The shortcut box was clicked.
    virtual void startRecording() = 0;
    // The local event monitor: true when the event is consumed and must go no further.
    virtual bool handleKeyboardEvent(const KeyboardEventInfo& event) = 0;
    virtual void cancel() = 0;
    virtual void save() = 0;
    virtual void setOnChange(std::function<void()> onChange) = 0;
};

struct WindowStyle {
    bool titled = true;
    bool closable = true;
    bool miniaturizable = false;
    bool resizable = false;
};

class Window {
  public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setContentSize(Size size) = 0;
    virtual Rect frame() const = 0;
    virtual void setFrameOrigin(Point origin) = 0;
    virtual void setLevel(int level) = 0;
    virtual void makeKeyAndOrderFront() = 0;
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
};

class Windows {
  public:
    virtual ~Windows() = default;
    // A window whose content is the shortcut editor view for `model`.
    virtual std::shared_ptr<Window> createShortcutEditorWindow(
        std::shared_ptr<ShortcutEditorModel> model, WindowStyle style) = 0;
};

}  // namespace velmora::platform
