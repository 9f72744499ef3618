#pragma once

#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <memory>

#include "platform/MainQueue.h"
#include "platform/StatusItem.h"

class QSystemTrayIcon;

namespace velmora::desktop {

// The images shipped with the program (Qt resources, drawn as SVG): "AppIcon" and the symbols.
class QtImages : public platform::Images {
  public:
    QtImages();
    bool hasImageNamed(const std::string& name) const override;

    // The image drawn at `logicalSize` device-independent pixels; a null pixmap when unknown.
    static QPixmap pixmap(const std::string& name, QSize logicalSize, qreal devicePixelRatio = 1);
};

// Builds a QMenu from the menu model. Chosen items run their action on the main queue.
QMenu* buildMenu(const platform::Menu& menu, platform::MainQueue& queue, QWidget* parent = nullptr);

// The status item: a tray icon carrying the menu. Without a tray the icon waits for one to appear.
class QtStatusItem : public platform::StatusItem {
  public:
    explicit QtStatusItem(platform::MainQueue& queue);
    ~QtStatusItem() override;

    bool hasButton() const override { return true; }
    void setImage(const platform::StatusImage& image) override;
    void setMenu(platform::Menu menu) override;

    QSystemTrayIcon& trayIcon() { return *tray_; }
    QMenu* menu() const { return menu_; }

  private:
    platform::MainQueue& queue_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QPointer<QMenu> menu_;
};

class QtStatusBar : public platform::StatusBar {
  public:
    explicit QtStatusBar(platform::MainQueue& queue) : queue_(queue) {}

    std::shared_ptr<platform::StatusItem> statusItem(double length) override;
    void popUpMenuAtMouseLocation(platform::Menu menu) override;

  private:
    platform::MainQueue& queue_;
};

}  // namespace velmora::desktop
