#include "platform/linux/DesktopNotification.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMessageBox>

#include "base/Log.h"

namespace velmora::desktop {
namespace {

constexpr int kNotifyTimeoutMs = 3000;

bool notify(const QString& title, const QString& message) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // server's default).
    call << QStringLiteral("Velmora") << 0U << QStringLiteral("velmora") << title << message
         << QStringList() << QVariantMap() << -1;
    return bus.call(call, QDBus::Block, kNotifyTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

}  // namespace

void tellUser(const std::string& title, const std::string& message) {
    logLine(title + ": " + message);
    const QString qtitle = QString::fromStdString(title);
    const QString qmessage = QString::fromStdString(message);
    if (notify(qtitle, qmessage) ||
        qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, qtitle, qmessage, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

}  // namespace velmora::desktop
