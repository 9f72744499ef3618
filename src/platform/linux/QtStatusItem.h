#pragma once

#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

#include "platform/MainQueue.h"
#include "platform/StatusItem.h"

namespace velmora::desktop {

// Builds a QMenu from the menu model. A chosen item queues its action on the main queue; check
// marks stay as the model says until the menu is rebuilt.
QMenu* buildMenu(const platform::Menu& menu, platform::MainQueue& queue, QWidget* parent = nullptr);

class QtMenuWindow;

// The tray icon carrying the menu. The menu opens on a left click too, like a menu-bar item.
// Without a tray the icon waits for one to appear, and the same menu can be shown in a window
// instead; once a tray appears, the tray takes over from the window.
class QtStatusItem : public platform::StatusItem {
  public:
    // `ended` runs when the item is destroyed.
    QtStatusItem(platform::MainQueue& queue, std::function<void()> ended = {});
    ~QtStatusItem() override;

    void setImage(const std::string& name, const std::string& description) override;
    void setMenu(platform::Menu menu) override;
    void popUpMenu(platform::Menu menu) override;

    // Shows the menu in its window, in front.
    void showMenuWindow();
    // Chooses the menu's item of this id as a click would; false when the menu has none.
    bool chooseItem(const std::string& id);

    QSystemTrayIcon& trayIcon() { return tray_; }
    QMenu* menu() const { return menu_; }
    // The menu's window, once it has been shown.
    QtMenuWindow* menuWindow() const { return window_.get(); }

  private:
    void handOverToTray();

    platform::MainQueue& queue_;
    std::function<void()> ended_;
    QSystemTrayIcon tray_;
    QPointer<QMenu> menu_;
    platform::Menu model_;
    std::unique_ptr<QtMenuWindow> window_;
    // While the window stands in for a missing tray: looks for a tray host from time to time.
    QTimer trayWatch_;
};

}  // namespace velmora::desktop
