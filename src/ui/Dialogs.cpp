#include "ui/Dialogs.h"

#include <utility>

#include "base/Log.h"
#include "base/Url.h"

namespace velmora {
namespace {

constexpr const char* kCustomInstructionsMessage =
    "Enter custom instructions for the AI (e.g., 'Principal Software Engineer, be "
    "cutting...'). This will be sent as 'user_instructions'. Leave empty for default behavior.";

// An address that does not form a URL makes its button do nothing.
void openIfValid(platform::Application& application, const std::string& address) {
    if (const auto url = Url::parse(address)) {
        application.openURL(url->absoluteString);
    }
}

}  // namespace

Dialogs::Dialogs(platform::Alerts& alerts, platform::MainQueue& mainQueue,
                 platform::Application& application, Notices& notices, Preferences& preferences,
                 Websites websites, std::function<void()> rebuildStatusMenu)
    : alerts_(alerts),
      mainQueue_(mainQueue),
      application_(application),
      notices_(notices),
      preferences_(preferences),
      websites_(std::move(websites)),
      rebuildStatusMenu_(std::move(rebuildStatusMenu)) {}

void Dialogs::showInputDialog(const std::string& title, const std::string& message,
                              const std::string& initialText,
                              std::function<void(const std::optional<std::string>&)> completion) {
    platform::AlertRequest request{
        title, message, platform::AlertStyle::Informational, {"OK", "Cancel"}, initialText};
    platform::Alerts& alerts = alerts_;
    mainQueue_.async([&alerts, request = std::move(request), completion = std::move(completion)] {
        const platform::AlertResponse response = alerts.runModal(request);
        if (response.button == 0) {
            completion(response.text.value_or(std::string()));
        } else {
            completion(std::nullopt);
        }
    });
}

void Dialogs::showAboutInfo(const std::string& shortcutDisplay) {
    platform::AlertRequest request{
        "About Velmora",
        "Velmora\n\nCurrent style: " + preferences_.styleLabel() + "\nShortcut: " + shortcutDisplay,
        platform::AlertStyle::Informational,
        {"Visit Website", "Privacy Policy", "OK"},
        std::nullopt};
    platform::Alerts& alerts = alerts_;
    platform::Application& application = application_;
    mainQueue_.async([&alerts, &application, request = std::move(request), sites = websites_] {
        const std::size_t button = alerts.runModal(request).button;
        if (button == 0) {
            openIfValid(application, sites.home);
        } else if (button == 1) {
            openIfValid(application, sites.privacy);
        }
    });
}

void Dialogs::showCustomInstructionsInput() {
    showInputDialog("Writing Style", kCustomInstructionsMessage,
                    preferences_.customInstructions().value_or(std::string()),
                    scope_.bind([this](const std::optional<std::string>& text) {
                        if (!text) {
                            logLine("Writing style input cancelled.");
                            return;
                        }
                        preferences_.setCustomInstructions(text);
                        rebuildStatusMenu_();
                        notices_.showAlert("Writing Style Saved",
                                           "Writing style instructions have been updated.",
                                           platform::AlertStyle::Informational);
                    }));
}

void Dialogs::resetCustomInstructions() {
    preferences_.setCustomInstructions(std::nullopt);
    notices_.showAlert("Writing Style Reset", "Writing style instructions have been reset.",
                       platform::AlertStyle::Informational);
}

}  // namespace velmora
