#include <gtest/gtest.h>

#include "DesktopTestSupport.h"
#include "platform/linux/QtMainQueue.h"
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

// With no tray the icon waits for one: a tray host started later shows it, and a left click on it
// opens the menu.
TEST(QtStatusItem, IconAppearsInALaterTrayAndOpensTheMenuOnLeftClick) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    QtMainQueue queue;
    QtStatusItem status(queue);
    status.setImage("AppIcon", "Velmora");
    status.setMenu({{item("Sign In")}});
    QProcess tray;
    tray.start("trayer",
               {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
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
