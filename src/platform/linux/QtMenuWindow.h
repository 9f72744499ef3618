#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/MainQueue.h"
#include "platform/StatusItem.h"

class QLayout;

namespace velmora::desktop {

// The menu as a small ordinary window, for desktops with no tray (stock GNOME): the same items and
// states as the tray's menu, built from the same model. A submenu becomes a group of choices, an
// on/off item a check box and any other item a button. A chosen item queues its action on the
// main queue, and the marks stay as the model says until the menu is rebuilt. Closing the window
// (or Escape) only hides it.
class QtMenuWindow : public QWidget {
  public:
    explicit QtMenuWindow(platform::MainQueue& queue);

    void setMenu(const platform::Menu& menu);

  private:
    void addItems(QLayout& layout, const std::vector<platform::MenuItem>& items, bool choices);
    void addItem(QLayout& layout, const platform::MenuItem& item, bool choices);

    platform::MainQueue& queue_;
    QPointer<QWidget> content_;
};

}  // namespace velmora::desktop
