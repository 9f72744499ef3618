#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

#include "DesktopTestSupport.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/QtStatusBar.h"

namespace velmora::desktop {
namespace {

using namespace testing;

platform::MenuItem item(const std::string& title, std::function<void()> action = {}) {
    platform::MenuItem menuItem;
    menuItem.title = title;
    menuItem.action = std::move(action);
    return menuItem;
}

// The menu model drawn as a QMenu: submenu with its check mark, separators, Quit with Ctrl+Q
// shown; a chosen item runs its action on the main queue, after the menu code has returned.
TEST(QtStatusBar, MenuModelBecomesQMenu) {
    QtMainQueue queue;
    std::vector<std::string> chosen;
    platform::Menu menu;
    platform::MenuItem styles = item("Writing Style");
    styles.submenu.push_back(item("Custom prompt"));
    platform::MenuItem concise = item("Concise", [&] { chosen.push_back("concise"); });
    concise.checked = true;
    styles.submenu.push_back(concise);
    menu.items.push_back(styles);
    menu.items.push_back(platform::MenuItem::separator());
    platform::MenuItem quit = item("Quit Velmora", [&] { chosen.push_back("quit"); });
    quit.keyEquivalent = "q";
    menu.items.push_back(quit);

    std::unique_ptr<QMenu> qmenu(buildMenu(menu, queue));
    const QList<QAction*> actions = qmenu->actions();
    ASSERT_EQ(actions.size(), 3);
    ASSERT_NE(actions[0]->menu(), nullptr);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Writing Style"));
    const QList<QAction*> styleActions = actions[0]->menu()->actions();
    ASSERT_EQ(styleActions.size(), 2);
    EXPECT_FALSE(styleActions[0]->isChecked());
    EXPECT_TRUE(styleActions[1]->isCheckable());
    EXPECT_TRUE(styleActions[1]->isChecked());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->shortcut().toString(QKeySequence::PortableText),
              QStringLiteral("Ctrl+Q"));

    styleActions[1]->trigger();
    actions[2]->trigger();
    EXPECT_TRUE(chosen.empty());
    ASSERT_TRUE(waitUntil([&] { return chosen.size() == 2; }));
    EXPECT_EQ(chosen, (std::vector<std::string>{"concise", "quit"}));
}

TEST(QtStatusBar, ShipsTheIconAndTheAnimationSymbols) {
    QtImages images;
    for (const std::string name : {"AppIcon", "circle.dotted", "circle.dotted.circle",
                                   "circle.dotted.circle.fill", "sparkles"}) {
        EXPECT_TRUE(images.hasImageNamed(name)) << name;
        const QPixmap pixmap = QtImages::pixmap(name, QSize(18, 18), 2);
        ASSERT_FALSE(pixmap.isNull()) << name;
        EXPECT_EQ(pixmap.size(), QSize(36, 36));
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(18, 18));
    }
    EXPECT_FALSE(images.hasImageNamed("NoSuchImage"));
    EXPECT_TRUE(QtImages::pixmap("NoSuchImage", QSize(18, 18)).isNull());
}

// Setting the menu again replaces the old one, which may be the one still running an action.
TEST(QtStatusBar, StatusItemReplacesItsMenu) {
    QtMainQueue queue;
    QtStatusItem statusItem(queue);
    EXPECT_TRUE(statusItem.hasButton());
    platform::Menu first;
    first.items.push_back(item("First"));
    statusItem.setMenu(first);
    QPointer<QMenu> old = statusItem.menu();
    platform::Menu second;
    second.items.push_back(item("Second"));
    statusItem.setMenu(second);
    ASSERT_NE(statusItem.menu(), nullptr);
    EXPECT_EQ(statusItem.menu()->actions().at(0)->text(), QStringLiteral("Second"));
    EXPECT_TRUE(waitUntil([&] { return old.isNull(); }));

    platform::StatusImage icon;
    icon.name = "AppIcon";
    icon.width = 18;
    icon.height = 18;
    statusItem.setImage(icon);
    EXPECT_FALSE(statusItem.trayIcon().icon().isNull());
    EXPECT_TRUE(statusItem.trayIcon().isVisible());
}

TEST(QtStatusBar, PopsUpMenuAtTheMouse) {
    QtMainQueue queue;
    QtStatusBar statusBar(queue);
    platform::Menu menu;
    menu.items.push_back(item("Check Accessibility"));
    statusBar.popUpMenuAtMouseLocation(menu);
    ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() != nullptr; }));
    QPointer<QWidget> popup = QApplication::activePopupWidget();
    EXPECT_EQ(popup->geometry().topLeft(), QCursor::pos());
    popup->close();
    // Closed, the menu goes away by itself.
    EXPECT_TRUE(waitUntil([&] { return popup.isNull(); }));
}

}  // namespace
}  // namespace velmora::desktop
