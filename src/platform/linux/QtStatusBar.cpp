#include "platform/linux/QtStatusBar.h"

#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

#include "base/Log.h"

// Resources compiled into a static library must be registered by name, outside any namespace.
static void initVelmoraResources() {
    Q_INIT_RESOURCE(velmora);
}

namespace velmora::desktop {
namespace {

QString resourcePath(const std::string& name) {
    return QStringLiteral(":/icons/") + QString::fromStdString(name) + QStringLiteral(".svg");
}

QIcon iconFor(const platform::StatusImage& image) {
    const QSize size = image.width > 0 && image.height > 0
                           ? QSize(static_cast<int>(image.width), static_cast<int>(image.height))
                           : QSize(18, 18);
    QIcon icon;
    // Sharp at 1x and 2x; the tray host scales whichever fits best.
    for (const qreal ratio : {1.0, 2.0}) {
        const QPixmap pixmap = QtImages::pixmap(image.name, size, ratio);
        if (!pixmap.isNull()) {
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}

void addItems(QMenu& qmenu, const std::vector<platform::MenuItem>& items,
              platform::MainQueue& queue) {
    for (const platform::MenuItem& item : items) {
        if (item.isSeparator) {
            qmenu.addSeparator();
            continue;
        }
        const QString title = QString::fromStdString(item.title);
        if (!item.submenu.empty()) {
            QMenu* sub = qmenu.addMenu(title);
            sub->setEnabled(item.enabled);
            addItems(*sub, item.submenu, queue);
            continue;
        }
        QAction* action = qmenu.addAction(title);
        action->setEnabled(item.enabled);
        action->setObjectName(QString::fromStdString(item.actionName));
        if (item.checked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        if (!item.keyEquivalent.empty()) {
            // Control plays Command's part on this desktop.
            action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") +
                                             QString::fromStdString(item.keyEquivalent).toUpper()));
            action->setShortcutVisibleInContextMenu(true);
        }
        if (item.action) {
            QObject::connect(action, &QAction::triggered, action,
                             [&queue, run = item.action] { queue.async(run); });
        }
    }
}

}  // namespace

QtImages::QtImages() {
    initVelmoraResources();
}

bool QtImages::hasImageNamed(const std::string& name) const {
    return !name.empty() && QFile::exists(resourcePath(name));
}

QPixmap QtImages::pixmap(const std::string& name, QSize logicalSize, qreal devicePixelRatio) {
    initVelmoraResources();
    if (name.empty() || !QFile::exists(resourcePath(name))) {
        return {};
    }
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid()) {
        return {};
    }
    QPixmap pixmap(logicalSize * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QMenu* buildMenu(const platform::Menu& menu, platform::MainQueue& queue, QWidget* parent) {
    auto* qmenu = new QMenu(parent);
    addItems(*qmenu, menu.items, queue);
    return qmenu;
}

QtStatusItem::QtStatusItem(platform::MainQueue& queue)
    : queue_(queue), tray_(std::make_unique<QSystemTrayIcon>()) {
    tray_->setToolTip(QStringLiteral("Velmora"));
    // The menu opens on a left click too, like a menu-bar item.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
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
    tray_->hide();
    delete menu_.data();
}

void QtStatusItem::setImage(const platform::StatusImage& image) {
    tray_->setIcon(iconFor(image));
    // Shown even without a tray: Qt embeds the icon as soon as a tray host appears.
    if (!tray_->isVisible()) {
        tray_->show();
    }
}

void QtStatusItem::setMenu(platform::Menu menu) {
    QMenu* old = menu_.data();
    menu_ = buildMenu(menu, queue_);
    tray_->setContextMenu(menu_);
    if (old) {
        // The old menu may be the one whose action is running.
        old->deleteLater();
    }
}

std::shared_ptr<platform::StatusItem> QtStatusBar::statusItem(double) {
    return std::make_shared<QtStatusItem>(queue_);
}

void QtStatusBar::popUpMenuAtMouseLocation(platform::Menu menu) {
    QMenu* qmenu = buildMenu(menu, queue_);
    QObject::connect(qmenu, &QMenu::aboutToHide, qmenu, &QObject::deleteLater);
    qmenu->popup(QCursor::pos());
}

}  // namespace velmora::desktop
