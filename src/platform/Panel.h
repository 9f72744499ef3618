#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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

// What the HUD shows: a message under an animated system symbol. A new identity rebuilds the view
// so its animation starts again.
struct HUDViewContent {
    std::string message;
    std::string systemImage;
    std::uint64_t identity = 0;
};

// The floating progress panel: borderless, non-activating, always on top, never focused.
class Panel {
  public:
    virtual ~Panel() = default;
    virtual void setContent(const HUDViewContent& content) = 0;
    // The fitting size of a plain view with this message and symbol.
    virtual Size measureContent(const std::string& message, const std::string& systemImage) = 0;
    virtual void setContentSize(Size size) = 0;
    virtual Rect frame() const = 0;
    virtual void setFrameOrigin(Point origin) = 0;
    // Shows the panel without making it key or activating the application.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    virtual double alpha() const = 0;
    // Animates the alpha from its current value; the completion runs on the main queue when the
    // animation ends.
    virtual void animateAlpha(double target, double duration, std::function<void()> completion) = 0;
};

// Screen geometry; coordinates as the platform's windows use them.
class Screens {
  public:
    virtual ~Screens() = default;
    virtual std::optional<Rect> mainScreenVisibleFrame() = 0;
};

class PanelFactory {
  public:
    virtual ~PanelFactory() = default;
    // A new HUD panel: empty content, size 0 x 0, alpha 0, floating level, clear background.
    virtual std::unique_ptr<Panel> createHUDPanel() = 0;
};

}  // namespace velmora::platform
