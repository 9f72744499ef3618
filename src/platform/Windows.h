#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Keys.h"

namespace velmora::platform {

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    Point origin;
    Size size;
    double midX() const { return origin.x + size.width * 0.5; }
    double midY() const { return origin.y + size.height * 0.5; }
    bool operator==(const Rect&) const = default;
};

// What the progress panel shows: a message under an animated symbol. A new identity restarts the
// symbol's animation.
struct PanelContent {
    std::string message;
    std::string symbol;
    std::uint64_t identity = 0;
};

// The floating progress panel: borderless, always on top, never focused, never activating Velmora.
// Created transparent and off screen.
class Panel {
  public:
    virtual ~Panel() = default;
    virtual void setContent(const PanelContent& content) = 0;
    // The size a panel showing this message and symbol needs.
    virtual Size fittingSize(const std::string& message, const std::string& symbol) = 0;
    virtual void setSize(Size size) = 0;
    virtual Size size() const = 0;
    virtual void setOrigin(Point origin) = 0;
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    // Animates the opacity from where it is to `alpha`. `done` runs from the event loop when the
    // fade ends, also while the main queue is held; a later fade cancels an earlier one's `done`.
    // A panel fading out is never covering a notice: the notice waits for it to leave the screen.
    virtual void fadeTo(double alpha, std::chrono::milliseconds duration,
                        std::function<void()> done) = 0;
};

// A key the shortcut recorder sees before any control of its window: a key press, or a modifier
// key pressed or released, with the modifiers held.
struct KeyPress {
    Key key;
    Modifiers modifiers;
};

// What the shortcut editor window shows and how it answers the user. Implemented by the logic; the
// window draws it again whenever `onChange` fires.
class ShortcutEditorModel {
  public:
    virtual ~ShortcutEditorModel() = default;
    virtual bool isRecording() const = 0;
    virtual std::string currentShortcutDisplay() const = 0;
    // The shortcut box was clicked.
    virtual void startRecording() = 0;
    // True when the key is consumed and must go no further.
    virtual bool handleKeyPress(const KeyPress& press) = 0;
    virtual void cancel() = 0;
    virtual void save() = 0;
    virtual void setOnChange(std::function<void()> onChange) = 0;
};

// A titled, closable window that cannot be resized or minimised.
class Window {
  public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setContentSize(Size size) = 0;
    virtual Size frameSize() const = 0;
    virtual void setOrigin(Point origin) = 0;
    // Keeps the window above normal windows.
    virtual void setFloating(bool floating) = 0;
    // Shows the window in front with the keyboard focus.
    virtual void show() = 0;
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
};

class Windows {
  public:
    virtual ~Windows() = default;
    virtual std::unique_ptr<Panel> createPanel() = 0;
    // A window showing the shortcut editor for `model`, which outlives it.
    virtual std::unique_ptr<Window> createShortcutEditorWindow(ShortcutEditorModel& model) = 0;
    // The main screen's area not taken by panels and docks, or none without a screen.
    virtual std::optional<Rect> mainScreenVisibleFrame() = 0;
};

}  // namespace velmora::platform
