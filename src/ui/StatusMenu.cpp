#include "ui/StatusMenu.h"

#include <utility>

#include "settings/WritingStyles.h"

namespace velmora {
namespace {

struct StyleEntry {
    const char* key;
    const char* title;
    MenuCommand command;
};

constexpr StyleEntry kStyleEntries[] = {
    {kStyleCustom, "Custom prompt", MenuCommand::SelectCustomStyle},
    {kStyleInformal, "Informal", MenuCommand::SelectInformalStyle},
    {kStyleCasual, "Casual", MenuCommand::SelectCasualStyle},
    {kStyleConcise, "Concise", MenuCommand::SelectConciseStyle},
};

}  // namespace

void StatusMenu::resetStatusIcon() {
    item_->setImage("AppIcon", "");
}

void StatusMenu::showProcessingFrame(const std::string& symbol) {
    item_->setImage(symbol, "Processing...");
}

platform::MenuItem StatusMenu::item(std::string title, MenuCommand command, std::string id) const {
    platform::MenuItem entry;
    entry.title = std::move(title);
    entry.id = std::move(id);
    entry.action = [perform = perform_, command] { perform(command); };
    return entry;
}

void StatusMenu::rebuildStatusMenu(const std::string& currentWritingStyle, bool signedIn,
                                   bool startsAtLogin) {
    platform::MenuItem styles;
    styles.title = "Writing Style";
    for (const StyleEntry& entry : kStyleEntries) {
        platform::MenuItem choice = item(entry.title, entry.command);
        // Exact comparison: a stored key outside the four checks nothing.
        choice.checked = currentWritingStyle == entry.key;
        styles.submenu.push_back(std::move(choice));
    }

    platform::Menu menu;
    menu.items.push_back(std::move(styles));
    menu.items.push_back(item("Edit shortcut", MenuCommand::EditShortcut));
    menu.items.push_back(platform::MenuItem::separator());
    // The ids name the desktop launcher's actions.
    menu.items.push_back(
        item("Check for Updates...", MenuCommand::CheckForUpdates, "check-for-updates"));
    menu.items.push_back(signedIn ? item("Sign out", MenuCommand::SignOut, "sign-out")
                                  : item("Sign in", MenuCommand::SignIn, "sign-in"));
    menu.items.push_back(platform::MenuItem::separator());
    platform::MenuItem login =
        item("Start at Login", MenuCommand::ToggleStartAtLogin, "start-at-login");
    login.checkable = true;
    login.checked = startsAtLogin;
    menu.items.push_back(std::move(login));
    // Opens the pop-up with "Check Permissions", which the keyboard-consent notices point to.
    menu.items.push_back(item("Settings...", MenuCommand::ShowSettings));
    menu.items.push_back(item("About Velmora", MenuCommand::ShowAbout));
    platform::MenuItem quit = item("Quit Velmora", MenuCommand::Quit, "quit");
    quit.keyEquivalent = "q";
    menu.items.push_back(std::move(quit));
    item_->setMenu(std::move(menu));
}

void StatusMenu::showSettings() {
    platform::Menu menu;
    menu.items.push_back(item("Check Permissions", MenuCommand::CheckPermissions));
    menu.items.push_back(item("Reset Writing Style", MenuCommand::ResetWritingStyle));
    item_->popUpMenu(std::move(menu));
}

}  // namespace velmora
