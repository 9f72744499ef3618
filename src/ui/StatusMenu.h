#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/StatusItem.h"

namespace velmora {

// What the tray menu's items ask the application to do.
enum class MenuCommand {
    SelectCustomStyle,
    SelectInformalStyle,
    SelectCasualStyle,
    SelectConciseStyle,
    EditShortcut,
    CheckForUpdates,
    SignIn,
    SignOut,
    ShowAbout,
    Quit,
    CheckPermissions,
    ResetWritingStyle,
    ToggleStartAtLogin,
    ShowSettings,
};

// The tray icon and its menu. The menu is built afresh from the state it is given; a chosen item
// hands its command to `perform` on the main queue.
class StatusMenu {
  public:
    using Perform = std::function<void(MenuCommand)>;

    StatusMenu(platform::Tray& tray, Perform perform) : tray_(tray), perform_(std::move(perform)) {}

    // Puts the icon in the tray; the other operations need it there.
    void createStatusItem() { item_ = tray_.createStatusItem(); }

    // The idle icon.
    void resetStatusIcon();
    // One frame of the processing animation.
    void showProcessingFrame(const std::string& symbol);
    void rebuildStatusMenu(const std::string& currentWritingStyle, bool signedIn,
                           bool startsAtLogin);
    // The settings pop-up at the pointer: "Check Permissions" and "Reset Writing Style".
    void showSettings();

  private:
    platform::MenuItem item(std::string title, MenuCommand command, std::string id = {}) const;

    platform::Tray& tray_;
    Perform perform_;
    std::unique_ptr<platform::StatusItem> item_;
};

}  // namespace velmora
