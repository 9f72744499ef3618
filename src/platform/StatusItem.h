#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

// An image for the status item's button: a named application image drawn at a size, or a system
// symbol (the processing animation frames).
struct StatusImage {
    enum class Kind { Application, Symbol };
    Kind kind = Kind::Application;
    std::string name;
    double width = 0;
    double height = 0;
    bool isTemplate = false;
    std::string accessibilityDescription;

    bool operator==(const StatusImage&) const = default;
};

// Who receives a menu item's action: the application delegate directly, or nobody in particular
// (the action travels the application's ordinary dispatch, which ends at the delegate).
enum class MenuTarget { None, ApplicationDelegate };

// Plain data describing one menu item; the platform draws it and calls `action` when chosen.
struct MenuItem {
    bool isSeparator = false;
    std::string title;
    std::string actionName;     // the action's name, for tests and diagnostics
    std::string keyEquivalent;  // "q" means the command modifier plus Q
    MenuTarget target = MenuTarget::None;
    bool checked = false;
    bool enabled = true;
    std::optional<std::string> representedObject;
    std::vector<MenuItem> submenu;
    std::function<void()> action;

    static MenuItem separator() {
        MenuItem item;
        item.isSeparator = true;
        return item;
    }
};

struct Menu {
    std::vector<MenuItem> items;
};

// The status item in the system tray.
class StatusItem {
  public:
    virtual ~StatusItem() = default;
    // Whether the item has a button to draw into; without one, images and menus are skipped.
    virtual bool hasButton() const = 0;
    virtual void setImage(const StatusImage& image) = 0;
    // Installs a new menu, replacing the old one.
    virtual void setMenu(Menu menu) = 0;
};

inline constexpr double squareStatusItemLength = -2.0;

class StatusBar {
  public:
    virtual ~StatusBar() = default;
    virtual std::shared_ptr<StatusItem> statusItem(double length) = 0;
    // Pops a menu up at the mouse location, with no item under the pointer.
    virtual void popUpMenuAtMouseLocation(Menu menu) = 0;
};

// The application's bundled images.
class Images {
  public:
    virtual ~Images() = default;
    virtual bool hasImageNamed(const std::string& name) const = 0;
};

}  // namespace velmora::platform
