#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

// One menu item as plain data; the platform draws it and queues `action` on the main queue when
// it is chosen.
struct MenuItem {
    bool isSeparator = false;
    std::string title;
    std::string keyEquivalent;  // "q": the primary modifier plus Q
    // Whether the item shows a check mark when `checked` is false too (an on/off setting).
    bool checkable = false;
    bool checked = false;
    // A name the desktop may ask for the item by ("sign-in"): its launcher's actions.
    std::string id;
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

// The program's icon in the system tray, with its menu.
class StatusItem {
  public:
    virtual ~StatusItem() = default;
    // A shipped image: "AppIcon", or a symbol such as "circle.dotted".
    virtual void setImage(const std::string& name, const std::string& description) = 0;
    // Installs a new menu, replacing the old one.
    virtual void setMenu(Menu menu) = 0;
    // Pops a menu up at the pointer.
    virtual void popUpMenu(Menu menu) = 0;
};

class Tray {
  public:
    virtual ~Tray() = default;
    virtual std::unique_ptr<StatusItem> createStatusItem() = 0;
    // Where the user finds the menu now, to name it in a notice: "Velmora's menu in the system
    // tray", or where there is no tray, "the Velmora window".
    virtual std::string menuLocation() const = 0;
};

}  // namespace velmora::platform
