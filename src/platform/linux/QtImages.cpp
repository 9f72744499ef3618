#include "platform/linux/QtImages.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// Resources compiled into a static library must be registered by name, outside any namespace.
static bool initVelmoraResources() {
    Q_INIT_RESOURCE(velmora);
    return true;
}

namespace velmora::desktop {
namespace {

QString resourcePath(const std::string& name) {
    return QStringLiteral(":/icons/") + QString::fromStdString(name) + QStringLiteral(".svg");
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
