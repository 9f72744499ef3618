#include "platform/linux/QtImages.h"

#include <QFile>

// Resources compiled into a static library must be registered by name, outside any namespace.
static bool initVelmoraResources() {
    Q_INIT_RESOURCE(velmora);
    return true;
}

namespace velmora::desktop {
namespace {

QString resourcePath(const std::string& name) {
    return QStringLiteral(":/icons/") + QString::fromStdString(name) + QStringLiteral(".png");
}

}  // namespace

bool QtImages::has(const std::string& name) {
    [[maybe_unused]] static const bool registered = initVelmoraResources();
    return !name.empty() && QFile::exists(resourcePath(name));
}

QPixmap QtImages::pixmap(const std::string& name, QSize logicalSize, qreal devicePixelRatio) {
    if (!has(name)) {
        return {};
    }
    // Drawn large at build time; scaled down smoothly to the size asked for.
    QPixmap pixmap =
        QPixmap(resourcePath(name), "PNG")
            .scaled(logicalSize * devicePixelRatio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon QtImages::icon(const std::string& name, QSize logicalSize) {
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        const QPixmap image = pixmap(name, logicalSize, ratio);
        if (!image.isNull()) {
            icon.addPixmap(image);
        }
    }
    return icon;
}

}  // namespace velmora::desktop
