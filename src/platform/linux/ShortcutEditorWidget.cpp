#include "platform/linux/ShortcutEditorWidget.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace velmora::desktop {
namespace {

using platform::Modifier;
using platform::Modifiers;

constexpr int kWindowPadding = 24;
constexpr int kStackSpacing = 20;
constexpr int kBoxSpacing = 12;
constexpr int kBoxHeight = 50;
constexpr int kBoxMinWidth = 200;
constexpr int kDotSize = 8;
constexpr int kDotGap = 8;
// A long shortcut the box has room for from the start, so a recorded one seldom resizes it.
constexpr const char* kWidestShortcut = "Ctrl+Shift+Alt+Super+W";
// X key codes are the Linux input layer's key positions plus 8.
constexpr quint32 kXKeycodeOffset = 8;

Modifiers modifiersFor(Qt::KeyboardModifiers qt) {
    Modifiers modifiers;
    if (qt & Qt::ControlModifier) {
        modifiers |= Modifier::Control;
    }
    if (qt & Qt::ShiftModifier) {
        modifiers |= Modifier::Shift;
    }
    if (qt & Qt::AltModifier) {
        modifiers |= Modifier::Alt;
    }
    if (qt & Qt::MetaModifier) {
        modifiers |= Modifier::Super;
    }
    return modifiers;
}

// The modifier a modifier key's position stands for; none for Caps Lock and other keys.
Modifiers modifierOfKey(platform::Key key) {
    switch (key.position) {
        case 29:
        case 97:
            return Modifier::Control;
        case 42:
        case 54:
            return Modifier::Shift;
        case 56:
        case 100:
            return Modifier::Alt;
        case 125:
        case 126:
            return Modifier::Super;
        default:
            return {};
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

std::optional<platform::KeyPress> keyPressFor(const QKeyEvent& event) {
    const bool press = event.type() == QEvent::KeyPress;
    if ((!press && event.type() != QEvent::KeyRelease) ||
        event.nativeScanCode() <= kXKeycodeOffset) {
        return std::nullopt;
    }
    const platform::Key key{static_cast<std::uint16_t>(event.nativeScanCode() - kXKeycodeOffset)};
    if (!press && !key.isModifier()) {
        return std::nullopt;
    }
    // Whether X counts the modifier key of this very event varies; say what holds after it.
    const std::uint8_t own = modifierOfKey(key).bits();
    const std::uint8_t held = modifiersFor(event.modifiers()).bits();
    return platform::KeyPress{key, Modifiers::fromBits(press ? held | own : held & ~own)};
}

ShortcutBox::ShortcutBox(QWidget* parent) : QAbstractButton(parent) {
    setObjectName(QStringLiteral("shortcutBox"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(QApplication::font().pointSizeF() * 1.3);
    setFont(font);
}

void ShortcutBox::setRecording(bool recording) {
    recording_ = recording;
    update();
}

QFont ShortcutBox::promptFont() const {
    // Family and size spelled out: a default QFont would take the box's own fixed-width font when
    // the painter resolves it.
    const QFont app = QApplication::font();
    return QFont(app.family(), app.pointSize());
}

QSize ShortcutBox::minimumSizeHint() const {
    // Room for the prompt and for the shortcut, so the window keeps its width while recording.
    const int prompt =
        kDotSize + kDotGap + QFontMetrics(promptFont()).horizontalAdvance(QString(kPrompt));
    const int shortcut = std::max(fontMetrics().horizontalAdvance(QString(kWidestShortcut)),
                                  fontMetrics().horizontalAdvance(text()));
    return {std::max({kBoxMinWidth, prompt + 2 * kBoxSpacing, shortcut + 2 * kBoxSpacing}),
            kBoxHeight};
}

QSize ShortcutBox::sizeHint() const {
    return minimumSizeHint();
}

void ShortcutBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(box, 8, 8);

    const QColor tint = recording_ ? QColor(Qt::blue) : QColor(Qt::gray);
    QColor fill = tint;
    fill.setAlphaF(0.1f);
    painter.fillPath(shape, fill);
    QColor stroke = tint;
    stroke.setAlphaF(recording_ ? 1.0f : 0.3f);
    painter.setPen(QPen(stroke, 2));
    painter.drawPath(shape);

    painter.setPen(palette().color(QPalette::WindowText));
    if (!recording_) {
        painter.drawText(box, Qt::AlignCenter, text());
        return;
    }
    // A red dot before the prompt, the pair centred; measured in the font it is drawn in.
    painter.setFont(promptFont());
    const QString prompt(kPrompt);
    const qreal textWidth = painter.fontMetrics().horizontalAdvance(prompt);
    const qreal left = box.center().x() - (kDotSize + kDotGap + textWidth) / 2;
    QColor dot(Qt::red);
    dot.setAlphaF(0.8f);
    painter.setBrush(dot);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(left, box.center().y() - kDotSize / 2.0, kDotSize, kDotSize));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRectF(left + kDotSize + kDotGap, box.top(), box.right() - left, box.height()),
                     Qt::AlignVCenter | Qt::AlignLeft, prompt);
}

ShortcutEditorWidget::ShortcutEditorWidget(platform::ShortcutEditorModel& model)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      model_(&model),
      box_(new ShortcutBox(this)),
      hint_(makeLabel(QStringLiteral("Press Escape to cancel recording"), 0.8, QFont::Normal, true,
                      this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)),
      save_(new QPushButton(QStringLiteral("Save"), this)) {
    setObjectName(QStringLiteral("shortcutEditorWindow"));

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kWindowPadding, kWindowPadding, kWindowPadding, kWindowPadding);
    stack->setSpacing(kStackSpacing);
    stack->addWidget(makeLabel(QStringLiteral("Edit Shortcut"), 1.4, QFont::Medium, false, this));
    stack->addWidget(makeLabel(QStringLiteral("Press the key combination you want to use"), 0.9,
                               QFont::Normal, true, this));

    auto* boxStack = new QVBoxLayout();
    boxStack->setSpacing(kBoxSpacing);
    boxStack->addWidget(box_);
    hint_->setObjectName(QStringLiteral("escapeHint"));
    // The hint's room is kept while it is hidden, so showing it moves nothing.
    QSizePolicy hintPolicy = hint_->sizePolicy();
    hintPolicy.setRetainSizeWhenHidden(true);
    hint_->setSizePolicy(hintPolicy);
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

    // The model's callbacks may drop the window; it is deleted later, never under its own feet.
    connect(box_, &QAbstractButton::clicked, this, [this] {
        if (model_) {
            model_->startRecording();
        }
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (model_) {
            model_->cancel();
        }
    });
    connect(save_, &QPushButton::clicked, this, [this] {
        if (model_) {
            model_->save();
        }
    });
    model_->setOnChange([this] { render(); });
    render();
    setContentSize({});
}

ShortcutEditorWidget::~ShortcutEditorWidget() {
    detach();
}

void ShortcutEditorWidget::detach() {
    holdKeyboard(false);
    if (model_) {
        model_->setOnChange(nullptr);
        model_ = nullptr;
    }
}

void ShortcutEditorWidget::render() {
    if (!model_) {
        return;
    }
    const bool recording = model_->isRecording();
    box_->setText(QString::fromStdString(model_->currentShortcutDisplay()));
    box_->setRecording(recording);
    hint_->setVisible(recording);
    save_->setEnabled(!recording);
    holdKeyboard(recording && isVisible());
}

void ShortcutEditorWidget::holdKeyboard(bool hold) {
    if (hold == grabbing_) {
        return;
    }
    grabbing_ = hold;
    if (hold) {
        grabKeyboard();
    } else {
        releaseKeyboard();
    }
}

void ShortcutEditorWidget::setContentSize(QSize size) {
    const QSize needed = layout()->minimumSize();
    setFixedSize(std::max(size.width(), needed.width()), std::max(size.height(), needed.height()));
}

void ShortcutEditorWidget::hideEvent(QHideEvent* event) {
    holdKeyboard(false);
    QWidget::hideEvent(event);
}

bool ShortcutEditorWidget::event(QEvent* event) {
    if (!model_) {
        return QWidget::event(event);
    }
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // While recording, a combination that is some action's shortcut is still a key.
            if (model_->isRecording()) {
                event->accept();
                return true;
            }
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            if (const auto press = keyPressFor(*static_cast<QKeyEvent*>(event))) {
                if (model_->handleKeyPress(*press)) {
                    return true;
                }
            }
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

}  // namespace velmora::desktop
