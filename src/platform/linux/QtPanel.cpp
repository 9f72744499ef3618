#include "platform/linux/QtPanel.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "platform/linux/HudContentView.h"

namespace velmora::desktop {
namespace {

// The panels alive in the process, for finishFadeOuts(); touched on the main thread only.
std::vector<QtPanel*>& livePanels() {
    static std::vector<QtPanel*> panels;
    return panels;
}

}  // namespace

QtPanel::QtPanel()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      content_(new HudContentView(this)),
      onWayland_(QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    setObjectName(QStringLiteral("velmoraHUD"));
    setWindowTitle(QStringLiteral("Velmora HUD"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    resize(0, 0);
    setOpacity(0.0);
    livePanels().push_back(this);
}

QtPanel::~QtPanel() {
    auto& panels = livePanels();
    panels.erase(std::remove(panels.begin(), panels.end(), this), panels.end());
    stopFade();
}

void QtPanel::setContent(const platform::PanelContent& content) {
    content_->setContent(content);
}

platform::Size QtPanel::fittingSize(const std::string& message, const std::string&) {
    const QSize size = HudContentView::fittingSize(message);
    return {static_cast<double>(size.width()), static_cast<double>(size.height())};
}

void QtPanel::setSize(platform::Size size) {
    setFixedSize(static_cast<int>(size.width), static_cast<int>(size.height));
}

platform::Size QtPanel::size() const {
    return {static_cast<double>(width()), static_cast<double>(height())};
}

void QtPanel::setOrigin(platform::Point origin) {
    move(static_cast<int>(origin.x), static_cast<int>(origin.y));
}

void QtPanel::orderFront() {
    // A Wayland compositor gives a new window the keyboard focus it asks not to have, and the
    // keystrokes of the rewrite would then go to the panel: there the tray icon alone says so.
    if (onWayland_) {
        return;
    }
    show();
    raise();
}

void QtPanel::orderOut() {
    content_->symbol().stopBounce();
    hide();
}

void QtPanel::fadeTo(double alpha, std::chrono::milliseconds duration, std::function<void()> done) {
    stopFade();
    ++fadeGeneration_;
    fadingOut_ = alpha < opacity_;
    // A panel on its way out lets clicks through to whatever is under it.
    setClickThrough(fadingOut_);
    done_ = std::move(done);
    auto* fade = new QVariantAnimation(this);
    fade->setDuration(
        static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, duration.count())));
    fade->setStartValue(opacity_);
    fade->setEndValue(alpha);
    connect(fade, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setOpacity(value.toDouble()); });
    fade_ = fade;
    connect(fade, &QAbstractAnimation::finished, this, &QtPanel::endFade);
    fade->start();
}

void QtPanel::finishFadeOuts() {
    for (QtPanel* panel : livePanels()) {
        if (!panel->fadingOut_) {
            continue;
        }
        if (panel->fade_) {
            panel->setOpacity(panel->fade_->endValue().toDouble());
        }
        panel->orderOut();
        panel->endFade();
    }
}

void QtPanel::stopFade() {
    done_ = nullptr;
    if (QVariantAnimation* fade = fade_.data()) {
        fade_ = nullptr;
        fade->disconnect(this);
        fade->stop();
        fade->deleteLater();
    }
}

void QtPanel::endFade() {
    std::function<void()> done = std::exchange(done_, nullptr);
    stopFade();
    fadingOut_ = false;
    if (!done) {
        return;
    }
    // Run from the event loop, never from inside the animation or the caller, and not through
    // the main queue, which a modal alert holds. `done` may destroy this panel.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [panel = QPointer<QtPanel>(this), generation = fadeGeneration_, done = std::move(done)] {
            if (panel && panel->fadeGeneration_ == generation) {
                done();
            }
        },
        Qt::QueuedConnection);
}

void QtPanel::setOpacity(double opacity) {
    opacity_ = opacity;
    if (!onWayland_) {
        setWindowOpacity(opacity);
    }
}

void QtPanel::setClickThrough(bool clickThrough) {
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowTransparentForInput, clickThrough);
    // Without telling the window system through QWidget, which would hide a shown panel.
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) {
        window->setFlags(flags);
    }
}

}  // namespace velmora::desktop
