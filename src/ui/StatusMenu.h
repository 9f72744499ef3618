#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Application.h"
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
};

// The tray icon and its menu. The menu is built afresh from the state it is given; a chosen item
// hands its command to `perform` on the main queue.
class StatusMenu {
  public:
    using Perform = std::function<void(MenuCommand)>;

    StatusMenu(std::unique_ptr<platform::StatusItem> item, const platform::Application& application,
               Perform perform)
        : item_(std::move(item)), application_(application), perform_(std::move(perform)) {}

    // The idle icon.
    void resetStatusIcon();
    // One frame of the processing animation.
    void showProcessingFrame(const std::string& symbol);
    void rebuildStatusMenu(const std::string& currentWritingStyle, bool signedIn);
    // The settings pop-up at the pointer: "Check Permissions" and "Reset Writing Style".
    void showSettings();

  private:
    platform::MenuItem item(std::string title, MenuCommand command, std::string id = {}) const;

    std::unique_ptr<platform::StatusItem> item_;
    const platform::Application& application_;
    Perform perform_;
};

}  // namespace velmora
