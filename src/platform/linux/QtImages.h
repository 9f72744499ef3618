#pragma once

#include <QIcon>
#include <QPixmap>
#include <string>

namespace velmora::desktop {

// The images shipped with the program (Qt resources, drawn from SVG at build time): "AppIcon" and
// the symbols
// ("circle.dotted", "sparkles", ...).
class QtImages {
  public:
    static bool has(const std::string& name);
    // The image drawn at `logicalSize` device-independent pixels; a null pixmap when unknown.
    static QPixmap pixmap(const std::string& name, QSize logicalSize, qreal devicePixelRatio = 1);
    // The image at 1x and 2x, for the tray host to scale whichever fits best.
    static QIcon icon(const std::string& name, QSize logicalSize);
};

}  // namespace velmora::desktop
