#include "platform/linux/QtShortcutEditorWindow.h"

namespace velmora::desktop {

QtShortcutEditorWindow::QtShortcutEditorWindow(platform::ShortcutEditorModel& model)
    : widget_(new ShortcutEditorWidget(model)) {}

QtShortcutEditorWindow::~QtShortcutEditorWindow() {
    if (widget_) {
        widget_->detach();
        widget_->hide();
        widget_->deleteLater();
    }
}

void QtShortcutEditorWindow::setTitle(const std::string& title) {
    widget_->setWindowTitle(QString::fromStdString(title));
}

void QtShortcutEditorWindow::setContentSize(platform::Size size) {
    widget_->setContentSize({static_cast<int>(size.width), static_cast<int>(size.height)});
}

platform::Size QtShortcutEditorWindow::frameSize() const {
    const QSize size = widget_->frameGeometry().size();
    return {static_cast<double>(size.width()), static_cast<double>(size.height())};
}

void QtShortcutEditorWindow::setOrigin(platform::Point origin) {
    widget_->move(static_cast<int>(origin.x), static_cast<int>(origin.y));
}

void QtShortcutEditorWindow::setFloating(bool floating) {
    // Changing window flags hides a shown window; put it back.
    const bool wasVisible = widget_->isVisible();
    widget_->setWindowFlag(Qt::WindowStaysOnTopHint, floating);
    if (wasVisible) {
        widget_->show();
    }
}

void QtShortcutEditorWindow::show() {
    widget_->show();
    widget_->raise();
    widget_->activateWindow();
}

void QtShortcutEditorWindow::close() {
    widget_->close();
}

bool QtShortcutEditorWindow::isVisible() const {
    return widget_->isVisible();
}

}  // namespace velmora::desktop
