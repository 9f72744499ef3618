// The yardstick for the footprint script: a bare Qt 6 tray program with a one-item menu. It loads
// the toolkit Velmora loads and nothing else, so its memory is what any Qt tray icon costs.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(18, 18);
    pixmap.fill(Qt::transparent);
    QPainter(&pixmap).fillRect(3, 3, 12, 12, Qt::darkCyan);
    QSystemTrayIcon tray{QIcon(pixmap)};
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &app, &QCoreApplication::quit);
    tray.setContextMenu(&menu);
    tray.show();
    return QApplication::exec();
}
