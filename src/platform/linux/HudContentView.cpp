#include "platform/linux/HudContentView.h"

#include <QEasingCurve>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/linux/QtImages.h"

namespace velmora::desktop {
namespace {

// One bounce and its rest at speed 0.8.
constexpr int kBounceCycleMs = 1250;

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

HudContentView::HudContentView(QWidget* parent)
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

void HudContentView::setContent(const platform::PanelContent& content) {
    symbol_->setSymbol(content.symbol);
    message_->setText(QString::fromStdString(content.message));
    if (content.identity != identity_ || !symbol_->isBouncing()) {
        identity_ = content.identity;
        symbol_->restartBounce();
    }
}

QSize HudContentView::fittingSize(const std::string& message) {
    const QFontMetrics metrics{QFont()};
    const QString text = QString::fromStdString(message);
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
    const int height = 2 * kPadding + BouncingSymbol::kPointSize + BouncingSymbol::kBounceHeight +
                       kSpacing + textHeight;
    return {width, height};
}

void HudContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Window);
    fill.setAlphaF(0.92f);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.fillPath(card, fill);
}

}  // namespace velmora::desktop
