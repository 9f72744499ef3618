#include "platform/linux/QtStatusItem.h"

#include <QCursor>

#include "base/Log.h"
#include "platform/linux/QtImages.h"

namespace velmora::desktop {
namespace {

constexpr QSize kIconSize(18, 18);

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

}  // namespace

QMenu* buildMenu(const platform::Menu& menu, platform::MainQueue& queue, QWidget* parent) {
    auto* qmenu = new QMenu(parent);
    addItems(*qmenu, menu.items, queue);
    return qmenu;
}

QtStatusItem::QtStatusItem(platform::MainQueue& queue) : queue_(queue) {
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
}

QtStatusItem::~QtStatusItem() {
    tray_.hide();
    delete menu_.data();
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
}

void QtStatusItem::popUpMenu(platform::Menu menu) {
    QMenu* qmenu = buildMenu(menu, queue_);
    QObject::connect(qmenu, &QMenu::aboutToHide, qmenu, &QObject::deleteLater);
    qmenu->popup(QCursor::pos());
}

}  // namespace velmora::desktop
