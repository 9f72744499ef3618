#include "platform/linux/QtAlerts.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "platform/linux/QtPanel.h"

namespace velmora::desktop {
namespace {

QMessageBox::Icon iconFor(platform::AlertStyle style) {
    switch (style) {
        case platform::AlertStyle::Warning:
            return QMessageBox::Warning;
        case platform::AlertStyle::Informational:
            return QMessageBox::Information;
        case platform::AlertStyle::Critical:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

QString plainToLabelText(const std::string& text) {
    const QString qtext = QString::fromStdString(text);
    // The label guesses the format; texts that look like markup are still shown verbatim.
    return Qt::mightBeRichText(qtext) ? Qt::convertFromPlainText(qtext) : qtext;
}

QPlainTextEdit* addTextField(QMessageBox& box, const std::string& initialText) {
    auto* field = new QPlainTextEdit(QString::fromStdString(initialText), &box);
    field->setObjectName(QStringLiteral("alertTextField"));
    field->setFixedSize(280, 80);
    field->setUndoRedoEnabled(true);
    field->setTabChangesFocus(true);
    field->setFont(QFont());

    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    auto* buttonBox = box.findChild<QDialogButtonBox*>();
    if (grid && buttonBox) {
        // Put the field between the texts and the buttons.
        grid->removeWidget(buttonBox);
        const int row = grid->rowCount();
        grid->addWidget(field, row, 1, 1, grid->columnCount() - 1);
        grid->addWidget(buttonBox, row + 1, 0, 1, grid->columnCount());
    } else if (grid) {
        grid->addWidget(field, grid->rowCount(), 1);
    }
    return field;
}

}  // namespace

platform::AlertResponse QtAlerts::runModal(const platform::AlertRequest& request) {
    QMessageBox box;
    const QString title = QString::fromStdString(request.title);
    box.setWindowTitle(title);
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()));
    box.setInformativeText(plainToLabelText(request.message));
    box.setIcon(iconFor(request.style));
    // A notice may carry an address to open by hand.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);

    std::vector<std::string> titles = request.buttons;
    if (titles.empty()) {
        titles.push_back("OK");
    }
    std::vector<QPushButton*> buttons;
    for (const std::string& text : titles) {
        // One role for all keeps them in the order given, whatever the desktop's button order.
        buttons.push_back(box.addButton(QString::fromStdString(text), QMessageBox::ActionRole));
    }
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons.back());

    QPlainTextEdit* field = nullptr;
    if (request.textField) {
        field = addTextField(box, *request.textField);
        QTimer::singleShot(0, field, [field] {
            field->setFocus(Qt::OtherFocusReason);
            field->moveCursor(QTextCursor::End);
        });
    }

    // The progress panel must not stay over the notice.
    QtPanel::finishFadeOuts();
    box.exec();

    platform::AlertResponse response;
    const auto clicked = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    // Closed without a button (Escape, the window manager's close): the last button's answer.
    response.button = static_cast<std::size_t>(clicked - buttons.begin());
    if (clicked == buttons.end()) {
        response.button = buttons.size() - 1;
    }
    if (field) {
        response.text = field->toPlainText().toStdString();
    }
    return response;
}

}  // namespace velmora::desktop
