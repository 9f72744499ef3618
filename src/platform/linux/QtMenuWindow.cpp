#include "platform/linux/QtMenuWindow.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeySequence>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "platform/linux/QtImages.h"

namespace velmora::desktop {

QtMenuWindow::QtMenuWindow(platform::MainQueue& queue) : queue_(queue) {
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(QtImages::icon("AppIcon", QSize(32, 32)));
    auto* layout = new QVBoxLayout(this);
    // As large as the items need, no larger.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void QtMenuWindow::setMenu(const platform::Menu& menu) {
    if (content_) {
        // Its button may be the one whose click is being handled.
        content_->hide();
        content_->deleteLater();
    }
    content_ = new QWidget(this);
    auto* layout = new QVBoxLayout(content_);
    layout->setContentsMargins(0, 0, 0, 0);
    addItems(*layout, menu.items, false);
    this->layout()->addWidget(content_);
}

void QtMenuWindow::addItems(QLayout& layout, const std::vector<platform::MenuItem>& items,
                            bool choices) {
    for (const platform::MenuItem& item : items) {
        addItem(layout, item, choices);
    }
}

void QtMenuWindow::addItem(QLayout& layout, const platform::MenuItem& item, bool choices) {
    if (item.isSeparator) {
        auto* line = new QFrame;
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        layout.addWidget(line);
        return;
    }
    const QString title = QString::fromStdString(item.title);
    if (!item.submenu.empty()) {
        auto* group = new QGroupBox(title);
        addItems(*new QVBoxLayout(group), item.submenu, true);
        layout.addWidget(group);
        return;
    }
    QAbstractButton* button = nullptr;
    if (choices) {
        auto* choice = new QRadioButton(title);
        choice->setAutoExclusive(false);
        button = choice;
    } else if (item.checkable) {
        button = new QCheckBox(title);
    } else {
        button = new QPushButton(title);
    }
    button->setCheckable(choices || item.checkable);
    button->setChecked(item.checked);
    if (!item.keyEquivalent.empty()) {
        // Control is this desktop's primary modifier.
        button->setShortcut(QKeySequence(QStringLiteral("Ctrl+") +
                                         QString::fromStdString(item.keyEquivalent).toUpper()));
    }
    connect(button, &QAbstractButton::clicked, button,
            [button, checked = item.checked, run = item.action, this] {
                // The toolkit flips the mark on a click; the model decides it.
                button->setChecked(checked);
                if (run) {
                    queue_.async(run);
                }
            });
    layout.addWidget(button);
}

}  // namespace velmora::desktop
