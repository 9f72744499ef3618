#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/AppDelegate.h"
#include "app/Url.h"
#include "platform/Log.h"
#include "settings/WritingStyles.h"

namespace velmora {
namespace {

constexpr const char* kCustomInstructionsMessage =
    "Enter custom instructions for the AI (e.g., 'Principal Software Engineer, be "
    "cutting...'). This will be sent as 'user_instructions'. Leave empty for default behavior.";

// An address that does not form a URL makes its button do nothing.
void openIfValid(platform::Workspace& workspace, const std::string& address) {
    if (auto url = Url::parse(address)) {
        workspace.openURL(url->absoluteString);
    }
}

}  // namespace

void AppDelegate::showInputDialog(
    const std::string& title, const std::string& message, const std::string& initialText,
    std::function<void(const std::optional<std::string>&)> completion) {
    platform::AlertRequest request;
    request.messageText = title;
    request.informativeText = message;
    request.style = platform::AlertStyle::Informational;
    request.buttons = {"OK", "Cancel"};
    request.textAccessoryInitialText = initialText;

    platform::Alerts& alerts = platform_.alerts;
    platform_.mainQueue.async(
        [&alerts, request = std::move(request), completion = std::move(completion)] {
            const platform::AlertResponse response = alerts.runModal(request);
            if (!completion) {
                return;
            }
            if (response.button == platform::alertFirstButtonReturn) {
                completion(response.accessoryText.value_or(std::string()));
            } else {
                completion(std::nullopt);
            }
        });
}

void AppDelegate::showAboutInfo() {
    const std::string label = styleLabel(currentWritingStyle_, customInstructions_);

    platform::AlertRequest request;
    request.messageText = "About Velmora";
    request.informativeText = "Velmora\n\nCurrent style: " + label +
                              "\nShortcut: " + hotkeyManager_->shortcutDisplayString();
    request.style = platform::AlertStyle::Informational;
    request.buttons = {"Visit Website", "Privacy Policy", "OK"};

    platform::Alerts& alerts = platform_.alerts;
    platform::Workspace& workspace = platform_.workspace;
    platform_.mainQueue.async([&alerts, &workspace, request = std::move(request),
                               website = endpoints_.website, privacyPage = endpoints_.privacyPage] {
        const int button = alerts.runModal(request).button;
        if (button == platform::alertFirstButtonReturn) {
            openIfValid(workspace, website);
        } else if (button == platform::alertSecondButtonReturn) {
            openIfValid(workspace, privacyPage);
        }
    });
}

void AppDelegate::showCustomInstructionsInput() {
    std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    showInputDialog(
        "Writing Style", kCustomInstructionsMessage, customInstructions_.value_or(std::string()),
        [weakSelf](const std::optional<std::string>& text) {
            auto self = weakSelf.lock();
            if (!self) {
                return;
            }
            if (!text) {
                logLine("Writing style input cancelled.");
                return;
            }
            // Stored exactly as typed; only an empty entry clears the instructions.
            self->customInstructions_ = text->empty() ? std::nullopt : text;
            self->settingsManager_->saveCustomInstructions(self->customInstructions_);
            self->rebuildStatusMenu();
            self->showAlert("Writing Style Saved", "Writing style instructions have been updated.",
                            platform::AlertStyle::Informational);
        });
}

void AppDelegate::resetCustomInstructions() {
    customInstructions_.reset();
    settingsManager_->saveCustomInstructions(customInstructions_);
    showAlert("Writing Style Reset", "Writing style instructions have been reset.",
              platform::AlertStyle::Informational);
}

}  // namespace velmora
