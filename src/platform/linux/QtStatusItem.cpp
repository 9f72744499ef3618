#include "platform/linux/QtStatusItem.h"

#include <QCursor>

#include "base/Log.h"
#include "platform/linux/QtImages.h"
#include "platform/linux/QtMenuWindow.h"

namespace velmora::desktop {
namespace {

constexpr QSize kIconSize(18, 18);
// Qt says nothing when a tray host starts; asking costs one round trip to the display.
constexpr int kTrayWatchMs = 2000;

void addItem(QMenu& menu, const platform::MenuItem& item, platform::MainQueue& queue);

void addItems(QMenu& menu, const std::vector<platform::MenuItem>& items,
              platform::MainQueue& queue) {
    for (const platform::MenuItem& item : items) {
        addItem(menu, item, queue);
    }
}

void addItem(QMenu& menu, const platform::MenuItem& item, platform::MainQueue& queue) {
    if (item.isSeparator) {
        menu.addSeparator();
        return;
    }
    const QString title = QString::fromStdString(item.title);
    if (!item.submenu.empty()) {
        addItems(*menu.addMenu(title), item.submenu, queue);
        return;
    }
    QAction* action = menu.addAction(title);
    if (item.representedObject) {
        action->setData(QString::fromStdString(*item.representedObject));
    }
    if (item.checked) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    if (!item.keyEquivalent.empty()) {
        // Control is this desktop's primary modifier.
        action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") +
                                         QString::fromStdString(item.keyEquivalent).toUpper()));
        action->setShortcutVisibleInContextMenu(true);
    }
    QObject::connect(action, &QAction::triggered, action,
                     [action, checked = item.checked, run = item.action, &queue] {
                         // The toolkit flips a checkable action when it is chosen; the model
                         // decides the mark.
                         action->setChecked(checked);
                         if (run) {
                             queue.async(run);
                         }
                     });
}

const platform::MenuItem* findItem(const std::vector<platform::MenuItem>& items,
                                   const std::string& id) {
    for (const platform::MenuItem& item : items) {
        if (!item.isSeparator && item.id == id) {
            return &item;
        }
        if (const platform::MenuItem* found = findItem(item.submenu, id)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

QMenu* buildMenu(const platform::Menu& menu, platform::MainQueue& queue, QWidget* parent) {
    auto* qmenu = new QMenu(parent);
    addItems(*qmenu, menu.items, queue);
    return qmenu;
}

QtStatusItem::QtStatusItem(platform::MainQueue& queue, std::function<void()> ended)
    : queue_(queue), ended_(std::move(ended)) {
    tray_.setToolTip(QStringLiteral("Velmora"));
    QObject::connect(&tray_, &QSystemTrayIcon::activated, &tray_,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && menu_) {
                             menu_->popup(QCursor::pos());
                         }
                     });
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logLine("No system tray available; the Velmora icon appears when a tray starts.");
    }
    trayWatch_.setInterval(kTrayWatchMs);
    QObject::connect(&trayWatch_, &QTimer::timeout, &trayWatch_, [this] { handOverToTray(); });
}

QtStatusItem::~QtStatusItem() {
    tray_.hide();
    delete menu_.data();
    if (ended_) {
        ended_();
    }
}

void QtStatusItem::setImage(const std::string& name, const std::string& description) {
    tray_.setIcon(QtImages::icon(name, kIconSize));
    tray_.setToolTip(description.empty() ? QStringLiteral("Velmora")
                                         : QString::fromStdString(description));
    // Shown even without a tray: Qt embeds the icon as soon as a tray host appears.
    if (!tray_.isVisible()) {
        tray_.show();
    }
}

void QtStatusItem::setMenu(platform::Menu menu) {
    QMenu* old = menu_.data();
    menu_ = buildMenu(menu, queue_);
    tray_.setContextMenu(menu_);
    if (old) {
        // The old menu may be the one whose action is running.
        old->deleteLater();
    }
    if (window_) {
        window_->setMenu(menu);
    }
    model_ = std::move(menu);
}

void QtStatusItem::showMenuWindow() {
    if (!window_) {
        window_ = std::make_unique<QtMenuWindow>(queue_);
        window_->setMenu(model_);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    trayWatch_.start();
}

bool QtStatusItem::chooseItem(const std::string& id) {
    const platform::MenuItem* item = findItem(model_.items, id);
    if (item == nullptr) {
        return false;
    }
    if (item->action) {
        queue_.async(item->action);
    }
    return true;
}

void QtStatusItem::handOverToTray() {
    if (!window_ || !window_->isVisible()) {
        trayWatch_.stop();
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        trayWatch_.stop();
        window_->hide();
        logLine("A system tray has appeared: Velmora's menu is in the tray now.");
    }
}

void QtStatusItem::popUpMenu(platform::Menu menu) {
    QMenu* qmenu = buildMenu(menu, queue_);
    QObject::connect(qmenu, &QMenu::aboutToHide, qmenu, &QObject::deleteLater);
    qmenu->popup(QCursor::pos());
}

}  // namespace velmora::desktop
