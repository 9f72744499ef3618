#include <array>
#include <utility>

#include "app/AppDelegate.h"
#include "app/UnicodeText.h"
#include "platform/Log.h"

namespace velmora {
namespace {

constexpr std::uint16_t kKeyCodeC = 8;
constexpr std::uint16_t kKeyCodeV = 9;
constexpr double kCopyCompletionToRead = 0.15;
constexpr double kPasteCompletionToRestore = 0.1;
constexpr double kAnimationInterval = 0.5;

constexpr std::array<const char*, 3> kAnimationFrames = {"circle.dotted", "circle.dotted.circle",
                                                         "circle.dotted.circle.fill"};

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

void AppDelegate::hotkeyTriggered() {
    logLine("AppDelegate: hotkeyTriggered called");
    processSelectedText();
}

void AppDelegate::processSelectedText() {
    if (isSignedIn()) {
        if (isProcessingText_) {
            abortProcessing();
        } else {
            startProcessing();
        }
        return;
    }
    logLine("User not authenticated or token missing. Process text action ignored.");
    if (!isAuthenticated_) {
        showAlert("Not Signed In", "Please sign in to use this feature.",
                  platform::AlertStyle::Informational);
    } else {
        showAlert("Authentication Error",
                  "Session token is missing. Please try signing out and in again.",
                  platform::AlertStyle::Warning);
    }
}

void AppDelegate::abortProcessing() {
    logLine("Aborting current text processing...");
    if (currentAPITask_) {
        currentAPITask_->cancel();
    }
    currentAPITask_.reset();
    isProcessingText_ = false;
    if (processingAnimationTimer_) {
        processingAnimationTimer_->invalidate();
        processingAnimationTimer_.reset();
    }
    resetStatusIcon();
    queueHUD(false);
    restoreOriginalPasteboard();
    showAlert("Processing Cancelled", "Previous text processing was cancelled.",
              platform::AlertStyle::Informational);
}

void AppDelegate::startProcessing() {
    if (!isAccessibilityTrusted()) {
        logLine("Accessibility permissions not granted. Cannot proceed.");
        showAccessibilityPermissionAlert();
        return;
    }
    isProcessingText_ = true;
    queueHUD(true);
    saveOriginalPasteboard();

    std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    platform::MainQueue& queue = platform_.mainQueue;
    simulateKeyPress(kKeyCodeC, platform::eventFlagMaskCommand, [weakSelf, &queue] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        queue.asyncAfter(kCopyCompletionToRead, [self] { self->processCopiedText(); });
    });
}

void AppDelegate::processCopiedText() {
    if (!isProcessingText_) {
        logLine("Processing was cancelled during copy operation.");
        return;
    }
    const std::optional<std::string> text = readPasteboardText();
    if (!text || text->empty()) {
        logLine("Failed to copy text or no text selected.");
        isProcessingText_ = false;
        restoreOriginalPasteboard();
        queueHUD(false);
        showAlert("No Text Selected",
                  "Could not detect any selected text to process. Please select text and try "
                  "again.",
                  platform::AlertStyle::Warning);
        return;
    }
    logLine("Copied text (" + std::to_string(characterCount(*text)) + " chars). Processing...");

    animationStep_ = 0;
    std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    processingAnimationTimer_ =
        platform_.mainQueue.scheduleTimer(kAnimationInterval, true, [weakSelf] {
            if (auto self = weakSelf.lock()) {
                self->advanceProcessingAnimation();
            }
        });

    const std::optional<std::string> instruction = styleInstruction(currentWritingStyle_);
    currentAPITask_ =
        apiService_->callLocalProxy(*text, selectedModel_.value_or(""), instruction, authToken_,
                                    [weakSelf](const std::string& result) {
                                        if (auto self = weakSelf.lock()) {
                                            self->handleProcessingResult(result);
                                        }
                                    });
}

void AppDelegate::advanceProcessingAnimation() {
    const int index = ((animationStep_ % 3) + 3) % 3;
    const std::string frame = kAnimationFrames[static_cast<std::size_t>(index)];
    std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    platform_.mainQueue.async([weakSelf, frame] {
        auto self = weakSelf.lock();
        if (!self || !self->statusItem_ || !self->statusItem_->hasButton()) {
            return;
        }
        platform::StatusImage image;
        image.kind = platform::StatusImage::Kind::Symbol;
        image.name = frame;
        image.accessibilityDescription = "Processing...";
        self->statusItem_->setImage(image);
    });
    ++animationStep_;
}

void AppDelegate::handleProcessingResult(const std::string& result) {
    isProcessingText_ = false;
    currentAPITask_.reset();
    if (processingAnimationTimer_) {
        processingAnimationTimer_->invalidate();
        processingAnimationTimer_.reset();
    }
    resetStatusIcon();
    queueHUD(false);

    if (contains(result, "cancelled")) {
        logLine("API request was cancelled.");
        restoreOriginalPasteboard();
        return;
    }
    if (!result.starts_with("[Error:")) {
        placeResultOnPasteboard(result);
        logLine("AI Response placed on pasteboard.");
        simulateKeyPress(kKeyCodeV, platform::eventFlagMaskCommand,
                         [self = shared_from_this()] { self->finishPasteAndRestore(); });
        return;
    }
    logLine("Error received from AI call: " + result);
    if (contains(result, "Authentication Failed") || contains(result, "401") ||
        contains(result, "403")) {
        handleAuthenticationError();
        restoreOriginalPasteboard();
        return;
    }
    showAlert("Processing Error", "Failed to process text. " + result,
              platform::AlertStyle::Critical);
    restoreOriginalPasteboard();
}

void AppDelegate::finishPasteAndRestore() {
    platform_.mainQueue.asyncAfter(kPasteCompletionToRestore, [self = shared_from_this()] {
        self->restoreOriginalPasteboard();
        logLine("Processing complete. Pasteboard restored.");
    });
}

void AppDelegate::handleAuthenticationError() {
    logLine("API returned authentication error. Signing out user.");
    if (tokenStore_.deleteToken()) {
        logLine("Invalid token successfully deleted from Keychain due to API auth error.");
    } else {
        logLine(
            "Warning: Failed to delete invalid token from Keychain after API auth error. "
            "Proceeding with local sign out.");
    }
    authToken_.reset();
    isAuthenticated_ = false;
    settingsManager_->saveAuthenticationFlag(false);
    // Otherwise the menu keeps offering "Sign out" until something else rebuilds it.
    rebuildStatusMenu();

    std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    platform_.mainQueue.async([weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->showAlert("Authentication Error",
                            "Your session has expired or is invalid. Please sign in again.",
                            platform::AlertStyle::Informational);
        }
    });
}

void AppDelegate::queueHUD(bool show) {
    // HUD calls always run on a later turn of the main loop, never inside the caller.
    HUDManager& hud = hud_;
    if (show) {
        platform_.mainQueue.async([&hud] { hud.showHUD("Velmoraing...", "sparkles"); });
    } else {
        platform_.mainQueue.async([&hud] { hud.hideHUD(); });
    }
}

}  // namespace velmora
