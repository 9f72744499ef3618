#pragma once

#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>

#include "platform/MainQueue.h"
#include "platform/StatusItem.h"

namespace velmora::desktop {

// Builds a QMenu from the menu model. A chosen item queues its action on the main queue; check
// marks stay as the model says until the menu is rebuilt.
QMenu* buildMenu(const platform::Menu& menu, platform::MainQueue& queue, QWidget* parent = nullptr);

// The tray icon carrying the menu. The menu opens on a left click too, like a menu-bar item.
// Without a tray the icon waits for one to appear.
class QtStatusItem : public platform::StatusItem {
  public:
    explicit QtStatusItem(platform::MainQueue& queue);
    ~QtStatusItem() override;

    void setImage(const std::string& name, const std::string& description) override;
    void setMenu(platform::Menu menu) override;
    void popUpMenu(platform::Menu menu) override;

    QSystemTrayIcon& trayIcon() { return tray_; }
    QMenu* menu() const { return menu_; }

  private:
    platform::MainQueue& queue_;
    QSystemTrayIcon tray_;
    QPointer<QMenu> menu_;
};

}  // namespace velmora::desktop
