#include "platform/linux/QtTray.h"

#include <QSystemTrayIcon>

#include "base/Log.h"
#include "platform/linux/QtStatusItem.h"

namespace velmora::desktop {

std::unique_ptr<platform::StatusItem> QtTray::createStatusItem() {
    const unsigned generation = ++generation_;
    auto item = std::make_unique<QtStatusItem>(queue_, [this, generation] {
        if (generation_ == generation) {
            item_ = nullptr;
        }
    });
    item_ = item.get();
    return item;
}

std::string QtTray::menuLocation() const {
    return QSystemTrayIcon::isSystemTrayAvailable() ? "Velmora's menu in the system tray"
                                                    : "the Velmora window";
}

void QtTray::reopen() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        logLine("Velmora is running; its menu is in the system tray.");
    } else if (item_ != nullptr) {
        item_->showMenuWindow();
    }
}

void QtTray::performAction(const std::string& id) {
    if (item_ == nullptr) {
        return;
    }
    if (!item_->chooseItem(id)) {
        logLine("The menu has no item for the action " + id + " now; showing the menu.");
        item_->showMenuWindow();
    }
}

}  // namespace velmora::desktop
