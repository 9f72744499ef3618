#include "platform/linux/QtWindows.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/linux/KeyCodeMap.h"

namespace velmora::desktop {
namespace {

constexpr int kWindowPadding = 24;
constexpr int kStackSpacing = 20;
constexpr int kBoxSpacing = 12;
constexpr int kBoxHeight = 50;

bool isModifierKey(int key) {
    switch (key) {
        case Qt::Key_Control:
        case Qt::Key_Shift:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
        case Qt::Key_Hyper_L:
        case Qt::Key_Hyper_R:
        case Qt::Key_CapsLock:
            return true;
        default:
            return false;
    }
}

QLabel* makeLabel(const QString& text, qreal scale, QFont::Weight weight, bool secondary,
                  QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setWeight(weight);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    if (secondary) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
        label->setPalette(palette);
    }
    return label;
}

}  // namespace

std::uint64_t eventFlagsForModifiers(Qt::KeyboardModifiers modifiers) {
    std::uint64_t flags = 0;
    if (modifiers & Qt::ControlModifier) {
        flags |= platform::eventModifierFlagCommand;
    }
    if (modifiers & Qt::ShiftModifier) {
        flags |= platform::eventModifierFlagShift;
    }
    if (modifiers & Qt::AltModifier) {
        flags |= platform::eventModifierFlagOption;
    }
    if (modifiers & Qt::MetaModifier) {
        flags |= platform::eventModifierFlagControl;
    }
    if (modifiers & Qt::KeypadModifier) {
        flags |= platform::eventModifierFlagNumericPad;
    }
    return flags;
}

std::optional<platform::KeyboardEventInfo> keyboardEventInfoFor(const QKeyEvent& event) {
    const bool modifier = isModifierKey(event.key());
    if (event.type() == QEvent::KeyRelease && !modifier) {
        return std::nullopt;
    }
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease) {
        return std::nullopt;
    }
    const int code = virtualKeyCodeForXKeycode(static_cast<int>(event.nativeScanCode()));
    if (code < 0) {
        return std::nullopt;
    }
    platform::KeyboardEventInfo info;
    info.type = modifier ? platform::KeyboardEventInfo::Type::FlagsChanged
                         : platform::KeyboardEventInfo::Type::KeyDown;
    info.keyCode = static_cast<std::uint16_t>(code);
    info.modifierFlags = eventFlagsForModifiers(event.modifiers());
    return info;
}

ShortcutBox::ShortcutBox(QWidget* parent) : QAbstractButton(parent) {
    setObjectName(QStringLiteral("shortcutBox"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(QFont().pointSizeF() * 1.3);
    setFont(font);
}

void ShortcutBox::setRecording(bool recording) {
    recording_ = recording;
    update();
}

QSize ShortcutBox::sizeHint() const {
    return {200, kBoxHeight};
}

void ShortcutBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(box, 8, 8);

    QColor fill = recording_ ? QColor(Qt::blue) : QColor(Qt::gray);
    fill.setAlphaF(0.1f);
    painter.fillPath(shape, fill);
    QColor stroke = recording_ ? QColor(Qt::blue) : QColor(Qt::gray);
    stroke.setAlphaF(recording_ ? 1.0f : 0.3f);
    painter.setPen(QPen(stroke, 2));
    painter.drawPath(shape);

    painter.setPen(palette().color(QPalette::WindowText));
    if (!recording_) {
        painter.drawText(box, Qt::AlignCenter, text());
        return;
    }
    const QString prompt = QStringLiteral("Press keys...");
    QFont plain = QFont();
    painter.setFont(plain);
    const int textWidth = QFontMetrics(plain).horizontalAdvance(prompt);
    const qreal rowWidth = 8 + 8 + textWidth;
    const qreal left = box.center().x() - rowWidth / 2;
    QColor dot(Qt::red);
    dot.setAlphaF(0.8f);
    painter.setBrush(dot);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(left, box.center().y() - 4, 8, 8));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRectF(left + 16, box.top(), textWidth + 2, box.height()),
                     Qt::AlignVCenter | Qt::AlignLeft, prompt);
}

QtShortcutEditorWindow::QtShortcutEditorWindow(std::shared_ptr<platform::ShortcutEditorModel> model,
                                               platform::WindowStyle style)
    : QWidget(nullptr, Qt::Window),
      model_(std::move(model)),
      box_(new ShortcutBox(this)),
      hint_(nullptr),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)),
      save_(new QPushButton(QStringLiteral("Save"), this)) {
    setObjectName(QStringLiteral("shortcutEditorWindow"));
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if (style.titled) {
        flags |= Qt::WindowTitleHint;
    }
    if (style.closable) {
        flags |= Qt::WindowCloseButtonHint;
    }
    if (style.miniaturizable) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    setWindowFlags(flags);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kWindowPadding, kWindowPadding, kWindowPadding, kWindowPadding);
    stack->setSpacing(kStackSpacing);
    stack->addWidget(makeLabel(QStringLiteral("Edit Shortcut"), 1.4, QFont::Medium, false, this));
    stack->addWidget(makeLabel(QStringLiteral("Press the key combination you want to use"), 0.9,
                               QFont::Normal, true, this));

    auto* boxStack = new QVBoxLayout();
    boxStack->setSpacing(kBoxSpacing);
    boxStack->addWidget(box_);
    hint_ = makeLabel(QStringLiteral("Press Escape to cancel recording"), 0.8, QFont::Normal, true,
                      this);
    hint_->setObjectName(QStringLiteral("escapeHint"));
    boxStack->addWidget(hint_);
    stack->addLayout(boxStack);

    auto* row = new QHBoxLayout();
    row->setSpacing(kBoxSpacing);
    row->addStretch();
    row->addWidget(cancel_);
    row->addWidget(save_);
    row->addStretch();
    stack->addLayout(row);
    save_->setDefault(true);
    // Keys belong to the recorder; only the mouse moves between controls.
    cancel_->setFocusPolicy(Qt::NoFocus);
    save_->setFocusPolicy(Qt::NoFocus);
    stack->setSizeConstraint(style.resizable ? QLayout::SetDefaultConstraint
                                             : QLayout::SetMinimumSize);

    connect(box_, &QAbstractButton::clicked, this, [this] { model_->startRecording(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { model_->cancel(); });
    connect(save_, &QPushButton::clicked, this, [this] { model_->save(); });
    model_->setOnChange([this] { render(); });
    render();
}

QtShortcutEditorWindow::~QtShortcutEditorWindow() {
    model_->setOnChange(nullptr);
    if (filtering_) {
        qApp->removeEventFilter(this);
    }
}

void QtShortcutEditorWindow::render() {
    const bool recording = model_->isRecording();
    box_->setText(QString::fromStdString(model_->currentShortcutDisplay()));
    box_->setRecording(recording);
    hint_->setVisible(recording);
    save_->setEnabled(!recording);
}

void QtShortcutEditorWindow::setTitle(const std::string& title) {
    setWindowTitle(QString::fromStdString(title));
}

void QtShortcutEditorWindow::setContentSize(platform::Size size) {
    // The content decides the height when it needs more than asked for.
    const int width = static_cast<int>(size.width);
    const int height = std::max(static_cast<int>(size.height), layout()->minimumSize().height());
    setFixedSize(width, height);
}

platform::Rect QtShortcutEditorWindow::frame() const {
    const QRect g = frameGeometry();
    return {{static_cast<double>(g.x()), static_cast<double>(g.y())},
            {static_cast<double>(g.width()), static_cast<double>(g.height())}};
}

void QtShortcutEditorWindow::setFrameOrigin(platform::Point origin) {
    move(static_cast<int>(origin.x), static_cast<int>(origin.y));
}

void QtShortcutEditorWindow::setLevel(int level) {
    // Changing window flags hides a shown window; put it back.
    const bool wasVisible = QWidget::isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, level >= platform::modalPanelWindowLevel);
    if (wasVisible) {
        show();
    }
}

void QtShortcutEditorWindow::makeKeyAndOrderFront() {
    show();
    raise();
    activateWindow();
}

void QtShortcutEditorWindow::close() {
    QWidget::close();
}

bool QtShortcutEditorWindow::isVisible() const {
    return QWidget::isVisible();
}

void QtShortcutEditorWindow::showEvent(QShowEvent* event) {
    if (!filtering_) {
        qApp->installEventFilter(this);
        filtering_ = true;
    }
    QWidget::showEvent(event);
}

void QtShortcutEditorWindow::hideEvent(QHideEvent* event) {
    if (filtering_) {
        qApp->removeEventFilter(this);
        filtering_ = false;
    }
    QWidget::hideEvent(event);
}

bool QtShortcutEditorWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // A key event reaches the window before any widget in it: look at it there, once.
    if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || !watched->isWindowType()) {
        return false;
    }
    const auto info = keyboardEventInfoFor(*static_cast<QKeyEvent*>(event));
    if (!info) {
        return false;
    }
    return model_->handleKeyboardEvent(*info);
}

std::shared_ptr<platform::Window> QtWindows::createShortcutEditorWindow(
    std::shared_ptr<platform::ShortcutEditorModel> model, platform::WindowStyle style) {
    // The window may be dropped from inside one of its own button handlers: delete it later.
    return std::shared_ptr<QtShortcutEditorWindow>(
        new QtShortcutEditorWindow(std::move(model), style),
        [](QtShortcutEditorWindow* window) { window->deleteLater(); });
}

}  // namespace velmora::desktop
