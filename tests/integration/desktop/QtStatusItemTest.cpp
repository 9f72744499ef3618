#include <gtest/gtest.h>

#include <QAbstractButton>

#include "DesktopTestSupport.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/QtMenuWindow.h"
#include "platform/linux/QtStatusItem.h"

namespace velmora::desktop {
namespace {

using namespace testing;

platform::MenuItem item(const std::string& title, std::function<void()> action = {}) {
    platform::MenuItem menuItem;
    menuItem.title = title;
    menuItem.action = std::move(action);
    return menuItem;
}

// The model drawn as a menu: a chosen item's action runs on the main queue once the menu code has
// returned, and the check marks stay as the model says, also on the checked item chosen again.
TEST(QtStatusItem, MenuRunsActionsOnTheQueueAndKeepsTheModelsCheckMarks) {
    QtMainQueue queue;
    QtStatusItem status(queue);
    std::vector<std::string> chosen;
    platform::MenuItem styles = item("Writing Style");
    styles.submenu.push_back(item("Concise", [&] { chosen.push_back("concise"); }));
    styles.submenu.back().checked = true;
    styles.submenu.push_back(item("Friendly", [&] { chosen.push_back("friendly"); }));
    status.setMenu({{styles}});

    const QList<QAction*> styleActions = status.menu()->actions().at(0)->menu()->actions();
    styleActions[0]->trigger();
    styleActions[1]->trigger();
    EXPECT_TRUE(styleActions[0]->isChecked());
    EXPECT_FALSE(styleActions[1]->isChecked());
    EXPECT_TRUE(chosen.empty());
    ASSERT_TRUE(waitUntil([&] { return chosen.size() == 2; }));
    EXPECT_EQ(chosen, (std::vector<std::string>{"concise", "friendly"}));
}

// The visible button of the menu's window titled `title`, or none.
QAbstractButton* windowButton(const QtStatusItem& status, const QString& title) {
    for (QAbstractButton* button : status.menuWindow()->findChildren<QAbstractButton*>()) {
        if (button->text() == title && button->isVisible()) {
            return button;
        }
    }
    return nullptr;
}

// With no tray the menu opens in a window whose items act like the tray's: a click runs the item's
// action and the rebuilt menu shows the new mark. Once a tray host starts, the icon appears in it
// and takes over from the window, and a left click on it opens the menu.
TEST(QtStatusItem, WithoutATrayTheMenuIsAWindowUntilATrayTakesOver) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    QtMainQueue queue;
    QtStatusItem status(queue);
    status.setImage("AppIcon", "Velmora");
    std::string style = "Informal";
    std::function<void()> rebuild = [&] {
        platform::MenuItem styles = item("Writing Style");
        for (const char* title : {"Informal", "Concise"}) {
            styles.submenu.push_back(item(title, [&, title] {
                style = title;
                rebuild();
            }));
            styles.submenu.back().checked = style == title;
        }
        status.setMenu({{styles, item("Sign In")}});
    };
    rebuild();
    status.showMenuWindow();
    ASSERT_FALSE(waitForWindow("^Velmora$").isEmpty());
    ASSERT_TRUE(waitUntil([&] { return windowButton(status, "Concise") != nullptr; }));
    const QAbstractButton* concise = windowButton(status, "Concise");
    const QPoint at = concise->mapToGlobal(concise->rect().center());
    xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    ASSERT_TRUE(waitUntil([&] {
        const QAbstractButton* mark = windowButton(status, "Concise");
        return style == "Concise" && mark != nullptr && mark != concise && mark->isChecked();
    }));
    EXPECT_FALSE(windowButton(status, "Informal")->isChecked());

    QProcess tray;
    tray.start("trayer",
               {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
    EXPECT_TRUE(waitUntil([&] { return !status.menuWindow()->isVisible(); }));
    // The host embeds the icon a moment after Qt knows where: click until the menu opens.
    EXPECT_TRUE(waitUntil([&] {
        const QPoint icon = status.trayIcon().geometry().center();
        xdotool({"mousemove", QString::number(icon.x()), QString::number(icon.y()), "click", "1"});
        return waitUntil([&] { return QApplication::activePopupWidget() == status.menu(); }, 500);
    }));
    status.menu()->close();
    tray.terminate();
    tray.waitForFinished();
}

}  // namespace
}  // namespace velmora::desktop
