#include "platform/linux/QtApplication.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace velmora::desktop {

void QtApplication::setActivationPolicy(platform::ActivationPolicy) {}

void QtApplication::terminate() {
    // Queued, so the menu action that asked returns before the loops unwind.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

std::optional<std::string> QtBundleInfo::shortVersionString() const {
    return VELMORA_VERSION;
}

bool QtWorkspace::openURL(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid()) {
        return false;
    }
    return QDesktopServices::openUrl(parsed);
}

}  // namespace velmora::desktop
