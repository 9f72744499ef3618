#include "platform/linux/QtAlerts.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <vector>

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
    const QString title = QString::fromStdString(request.messageText);
    box.setWindowTitle(title);
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()));
    box.setInformativeText(plainToLabelText(request.informativeText));
    box.setIcon(iconFor(request.style));

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
    box.setEscapeButton(buttons.size() > 1 ? buttons.back() : buttons.front());

    QPlainTextEdit* field = nullptr;
    if (request.textAccessoryInitialText) {
        field = addTextField(box, *request.textAccessoryInitialText);
        QTimer::singleShot(0, field, [field] {
            field->setFocus(Qt::OtherFocusReason);
            field->moveCursor(QTextCursor::End);
        });
    }

    box.exec();

    platform::AlertResponse response;
    const auto clicked = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    // Closed without a button (window manager close): the escape button's answer.
    const auto index =
        clicked != buttons.end()
            ? clicked - buttons.begin()
            : static_cast<std::ptrdiff_t>(buttons.size() > 1 ? buttons.size() - 1 : 0);
    response.button = platform::alertFirstButtonReturn + static_cast<int>(index);
    if (field) {
        response.accessoryText = field->toPlainText().toStdString();
    }
    return response;
}

}  // namespace velmora::desktop
