#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/WeakScope.h"
#include "platform/Alerts.h"
#include "platform/Application.h"
#include "platform/MainQueue.h"
#include "settings/Preferences.h"
#include "ui/Notices.h"

namespace velmora {

// The text-input dialog, the About dialog and the custom instructions with their reset. Every
// dialog is queued and runs modally on the main queue, after the caller has returned.
class Dialogs {
  public:
    struct Websites {
        std::string home;
        std::string privacy;
    };

    Dialogs(platform::Alerts& alerts, platform::MainQueue& mainQueue,
            platform::Application& application, Notices& notices, Preferences& preferences,
            Websites websites, std::function<void()> rebuildStatusMenu);

    // The completion gets the entered text after OK, or none after Cancel.
    void showInputDialog(const std::string& title, const std::string& message,
                         const std::string& initialText,
                         std::function<void(const std::optional<std::string>&)> completion);
    void showAboutInfo(const std::string& shortcutDisplay);
    void showCustomInstructionsInput();
    void resetCustomInstructions();

  private:
    platform::Alerts& alerts_;
    platform::MainQueue& mainQueue_;
    platform::Application& application_;
    Notices& notices_;
    Preferences& preferences_;
    const Websites websites_;
    std::function<void()> rebuildStatusMenu_;
    WeakScope scope_;
};

}  // namespace velmora
