#include <memory>
#include <string>
#include <utility>

#include "app/AppDelegate.h"
#include "settings/WritingStyles.h"

namespace velmora {
namespace {

using Action = void (AppDelegate::*)();

// Menu items outlive any one call, so their actions reach the delegate only while it exists.
platform::MenuItem actionItem(const std::weak_ptr<AppDelegate>& weakSelf, std::string title,
                              std::string actionName, Action action,
                              platform::MenuTarget target = platform::MenuTarget::None) {
    platform::MenuItem item;
    item.title = std::move(title);
    item.actionName = std::move(actionName);
    item.target = target;
    item.action = [weakSelf, action] {
        if (auto self = weakSelf.lock()) {
            ((*self).*action)();
        }
    };
    return item;
}

struct StyleEntry {
    const char* key;
    const char* title;
    const char* actionName;
    Action action;
};

const StyleEntry kStyleEntries[] = {
    {kStyleCustom, "Custom prompt", "selectCustomStyleFromStatusBar",
     &AppDelegate::selectCustomStyleFromStatusBar},
    {kStyleInformal, "Informal", "selectInformalStyleFromStatusBar",
     &AppDelegate::selectInformalStyleFromStatusBar},
    {kStyleCasual, "Casual", "selectCasualStyleFromStatusBar",
     &AppDelegate::selectCasualStyleFromStatusBar},
    {kStyleConcise, "Concise", "selectConciseStyleFromStatusBar",
     &AppDelegate::selectConciseStyleFromStatusBar},
};

}  // namespace

void AppDelegate::rebuildStatusMenu() {
    if (!statusItem_) {
        return;
    }
    const std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    constexpr auto delegateTarget = platform::MenuTarget::ApplicationDelegate;

    platform::MenuItem styles;
    styles.title = "Writing Style";
    for (const StyleEntry& entry : kStyleEntries) {
        platform::MenuItem item =
            actionItem(weakSelf, entry.title, entry.actionName, entry.action, delegateTarget);
        // Exact comparison: a stored key outside the four checks nothing.
        item.checked = currentWritingStyle_ == entry.key;
        styles.submenu.push_back(std::move(item));
    }

    platform::Menu menu;
    menu.items.push_back(std::move(styles));
    menu.items.push_back(actionItem(weakSelf, "Edit shortcut", "showShortcutEditor",
                                    &AppDelegate::showShortcutEditor));
    menu.items.push_back(platform::MenuItem::separator());
    menu.items.push_back(actionItem(weakSelf, "Check for Updates...", "checkForUpdatesAction",
                                    &AppDelegate::checkForUpdatesAction));
    if (isSignedIn()) {
        menu.items.push_back(
            actionItem(weakSelf, "Sign out", "signOutAction", &AppDelegate::signOutAction));
    } else {
        menu.items.push_back(
            actionItem(weakSelf, "Sign in", "signInAction", &AppDelegate::signInAction));
    }
    menu.items.push_back(platform::MenuItem::separator());
    menu.items.push_back(
        actionItem(weakSelf, "About Velmora", "showAboutInfo", &AppDelegate::showAboutInfo));
    platform::MenuItem quit = actionItem(weakSelf, "Quit Velmora", "quitApplication",
                                         &AppDelegate::quitApplication, delegateTarget);
    quit.keyEquivalent = "q";
    menu.items.push_back(std::move(quit));

    statusItem_->setMenu(std::move(menu));
}

void AppDelegate::selectCustomStyleFromStatusBar() {
    setWritingStyle(kStyleCustom);
    // The menu follows only when the dialog is confirmed.
    showCustomInstructionsInput();
}

void AppDelegate::selectInformalStyleFromStatusBar() {
    setWritingStyle(kStyleInformal);
    rebuildStatusMenu();
}

void AppDelegate::selectCasualStyleFromStatusBar() {
    setWritingStyle(kStyleCasual);
    rebuildStatusMenu();
}

void AppDelegate::selectConciseStyleFromStatusBar() {
    setWritingStyle(kStyleConcise);
    rebuildStatusMenu();
}

void AppDelegate::quitApplication() {
    platform_.application.terminate();
}

void AppDelegate::showSettings() {
    const std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    constexpr auto delegateTarget = platform::MenuTarget::ApplicationDelegate;
    platform::Menu menu;
    menu.items.push_back(actionItem(weakSelf, "Check Permissions", "checkAccessibilityPermissions",
                                    &AppDelegate::checkAccessibilityPermissionsAction,
                                    delegateTarget));
    menu.items.push_back(actionItem(weakSelf, "Reset Writing Style", "resetCustomInstructions",
                                    &AppDelegate::resetCustomInstructions, delegateTarget));
    platform_.statusBar.popUpMenuAtMouseLocation(std::move(menu));
}

void AppDelegate::checkAccessibilityPermissionsAction() {
    checkAccessibilityPermissions(true);
}

}  // namespace velmora
