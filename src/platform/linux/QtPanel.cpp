#include "platform/linux/QtPanel.h"

#include <QEasingCurve>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/linux/QtStatusBar.h"

namespace velmora::desktop {
namespace {

constexpr int kBounceHeight = 6;
// One bounce and its rest at speed 0.8.
constexpr int kBounceCycleMs = 1250;

QString messageText(const std::string& message) {
    return QString::fromStdString(message);
}

}  // namespace

BouncingSymbol::BouncingSymbol(QWidget* parent)
    : QWidget(parent), bounce_(new QPropertyAnimation(this, "lift", this)) {
    bounce_->setDuration(kBounceCycleMs);
    bounce_->setStartValue(0.0);
    bounce_->setKeyValueAt(0.16, static_cast<qreal>(kBounceHeight));
    bounce_->setKeyValueAt(0.36, 0.0);
    bounce_->setEndValue(0.0);
    bounce_->setEasingCurve(QEasingCurve::Linear);
    bounce_->setLoopCount(-1);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void BouncingSymbol::setSymbol(const std::string& name) {
    name_ = name;
    update();
}

void BouncingSymbol::restartBounce() {
    bounce_->stop();
    lift_ = 0;
    bounce_->start();
}

void BouncingSymbol::stopBounce() {
    // An idle panel runs no animation timer.
    bounce_->stop();
    lift_ = 0;
}

bool BouncingSymbol::isBouncing() const {
    return bounce_->state() == QAbstractAnimation::Running;
}

void BouncingSymbol::setLift(qreal lift) {
    lift_ = lift;
    update();
}

QSize BouncingSymbol::sizeHint() const {
    return {kPointSize, kPointSize + kBounceHeight};
}

void BouncingSymbol::paintEvent(QPaintEvent*) {
    const QPixmap pixmap =
        QtImages::pixmap(name_, QSize(kPointSize, kPointSize), devicePixelRatioF());
    if (pixmap.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(QPointF((width() - kPointSize) / 2.0, kBounceHeight - lift_), pixmap);
}

HUDContentView::HUDContentView(QWidget* parent)
    : QWidget(parent), symbol_(new BouncingSymbol(this)), message_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(kSpacing);
    layout->addWidget(symbol_, 0, Qt::AlignHCenter);
    message_->setObjectName(QStringLiteral("hudMessage"));
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    layout->addWidget(message_);
}

void HUDContentView::setContent(const platform::HUDViewContent& content) {
    symbol_->setSymbol(content.systemImage);
    message_->setText(messageText(content.message));
    if (content.identity != identity_ || !symbol_->isBouncing()) {
        identity_ = content.identity;
        symbol_->restartBounce();
    }
}

QString HUDContentView::message() const {
    return message_->text();
}

QSize HUDContentView::fittingSize(const std::string& message, const std::string&) {
    const QFontMetrics metrics{QFont()};
    const QString text = messageText(message);
    int natural = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        natural = std::max(natural, metrics.horizontalAdvance(line));
    }
    const int contentWidth = std::max(natural, static_cast<int>(BouncingSymbol::kPointSize));
    const int width = std::clamp(contentWidth + 2 * kPadding, kMinWidth, kMaxWidth);
    const int textWidth = width - 2 * kPadding;
    const int textHeight =
        metrics
            .boundingRect(QRect(0, 0, textWidth, 100000), Qt::AlignCenter | Qt::TextWordWrap, text)
            .height();
    const int height =
        2 * kPadding + BouncingSymbol::kPointSize + kBounceHeight + kSpacing + textHeight;
    return {width, height};
}

void HUDContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Window);
    fill.setAlphaF(0.92f);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.fillPath(card, fill);
}

QtPanel::QtPanel(platform::MainQueue& queue)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      queue_(queue),
      content_(new HUDContentView(this)) {
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
    setWindowOpacity(0.0);
}

QtPanel::~QtPanel() {
    if (fade_) {
        fade_->stop();
    }
}

void QtPanel::setContent(const platform::HUDViewContent& content) {
    content_->setContent(content);
}

platform::Size QtPanel::measureContent(const std::string& message, const std::string& systemImage) {
    const QSize size = HUDContentView::fittingSize(message, systemImage);
    return {static_cast<double>(size.width()), static_cast<double>(size.height())};
}

void QtPanel::setContentSize(platform::Size size) {
    setFixedSize(static_cast<int>(size.width), static_cast<int>(size.height));
}

platform::Rect QtPanel::frame() const {
    const QRect g = frameGeometry();
    return {{static_cast<double>(g.x()), static_cast<double>(g.y())},
            {static_cast<double>(g.width()), static_cast<double>(g.height())}};
}

void QtPanel::setFrameOrigin(platform::Point origin) {
    move(static_cast<int>(origin.x), static_cast<int>(origin.y));
}

void QtPanel::orderFront() {
    show();
    raise();
}

void QtPanel::orderOut() {
    content_->symbol().stopBounce();
    hide();
}

double QtPanel::alpha() const {
    return windowOpacity();
}

void QtPanel::animateAlpha(double target, double duration, std::function<void()> completion) {
    // A new fade supersedes the running one, which ends now and still reports its end.
    finishAnimation();
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(static_cast<int>(std::max(0.0, duration) * 1000));
    fade->setStartValue(windowOpacity());
    fade->setEndValue(target);
    fade_ = fade;
    fadeCompletion_ = std::move(completion);
    connect(fade, &QAbstractAnimation::finished, this, [this, fade] {
        if (fade_ == fade) {
            finishAnimation();
        }
    });
    fade->start();
}

void QtPanel::finishAnimation() {
    if (fade_) {
        QPropertyAnimation* fade = fade_;
        fade_ = nullptr;
        fade->stop();
        fade->deleteLater();
    }
    if (auto completion = std::exchange(fadeCompletion_, nullptr)) {
        queue_.async(std::move(completion));
    }
}

std::unique_ptr<platform::Panel> QtPanelFactory::createHUDPanel() {
    return std::make_unique<QtPanel>(queue_);
}

std::optional<platform::Rect> QtScreens::mainScreenVisibleFrame() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return std::nullopt;
    }
    const QRect g = screen->availableGeometry();
    return platform::Rect{{static_cast<double>(g.x()), static_cast<double>(g.y())},
                          {static_cast<double>(g.width()), static_cast<double>(g.height())}};
}

}  // namespace velmora::desktop
