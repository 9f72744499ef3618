#include "app/RewriteWorkflow.h"

#include <array>
#include <utility>

#include "base/Log.h"
#include "base/UnicodeText.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

constexpr auto kCopyCompletionToRead = 150ms;
constexpr auto kPasteCompletionToRestore = 100ms;
constexpr auto kAnimationInterval = 500ms;

constexpr std::array<const char*, 3> kAnimationFrames = {"circle.dotted", "circle.dotted.circle",
                                                         "circle.dotted.circle.fill"};

}  // namespace

RewriteWorkflow::RewriteWorkflow(Services services, std::weak_ptr<void> owner)
    : s_(services), owner_(std::move(owner)) {}

void RewriteWorkflow::hotkeyTriggered() {
    logLine("AppDelegate: hotkeyTriggered called");
    processSelectedText();
}

void RewriteWorkflow::processSelectedText() {
    if (s_.account.isSignedIn()) {
        if (isProcessingText_) {
            abortProcessing();
        } else {
            startProcessing();
        }
        return;
    }
    logLine("User not authenticated or token missing. Process text action ignored.");
    if (!s_.account.isAuthenticated) {
        s_.notices.showAlert("Not Signed In", "Please sign in to use this feature.",
                             platform::AlertStyle::Informational);
    } else {
        s_.notices.showAlert("Authentication Error",
                             "Session token is missing. Please try signing out and in again.",
                             platform::AlertStyle::Warning);
    }
}

void RewriteWorkflow::abortProcessing() {
    logLine("Aborting current text processing...");
    if (currentAPITask_) {
        currentAPITask_->cancel();
    }
    currentAPITask_.reset();
    isProcessingText_ = false;
    stopAnimation();
    queueHUD(false);
    s_.bridge.restoreOriginalPasteboard();
    s_.notices.showAlert("Processing Cancelled", "Previous text processing was cancelled.",
                         platform::AlertStyle::Informational);
}

void RewriteWorkflow::startProcessing() {
    if (!s_.bridge.isAccessibilityTrusted()) {
        logLine("Accessibility permissions not granted. Cannot proceed.");
        s_.bridge.showAccessibilityPermissionAlert();
        return;
    }
    isProcessingText_ = true;
    ++currentRun_;
    // The request follows the copy: the way to the service gets ready meanwhile.
    s_.apiService.prepareConnection();
    queueHUD(true);
    s_.bridge.saveOriginalPasteboard();

    platform::MainQueue& queue = s_.mainQueue;
    s_.bridge.simulateKeyPress(platform::Keystroke::Copy, [this, owner = owner_, &queue] {
        auto alive = owner.lock();
        if (!alive) {
            return;
        }
        queue.asyncAfter(kCopyCompletionToRead,
                         [this, keep = std::move(alive)] { processCopiedText(); });
    });
}

void RewriteWorkflow::processCopiedText() {
    if (!isProcessingText_) {
        logLine("Processing was cancelled during copy operation.");
        return;
    }
    const std::optional<std::string> text = s_.bridge.readPasteboardText();
    if (!text || text->empty()) {
        logLine("Failed to copy text or no text selected.");
        isProcessingText_ = false;
        s_.bridge.restoreOriginalPasteboard();
        queueHUD(false);
        s_.notices.showAlert(
            "No Text Selected",
            "Could not detect any selected text to process. Please select text and try again.",
            platform::AlertStyle::Warning);
        return;
    }
    logLine("Copied text (" + std::to_string(characterCount(*text)) + " chars). Processing...");

    animationStep_ = 0;
    processingAnimationTimer_ =
        s_.mainQueue.scheduleTimer(kAnimationInterval, true, [this, owner = owner_] {
            if (owner.lock()) {
                advanceProcessingAnimation();
            }
        });

    currentAPITask_ = s_.apiService.callLocalProxy(
        *text, s_.preferences.selectedModel().value_or(""), s_.preferences.styleInstruction(),
        s_.account.authToken, [this, owner = owner_, run = currentRun_](ProxyResult result) {
            if (!owner.lock()) {
                return;
            }
            // After a cancel, the clean-up and the restore have been done; pasting a late answer
            // now would land on whatever the clipboard holds by then.
            if (run != currentRun_ || !isProcessingText_) {
                logLine("Result of a cancelled rewrite dropped.");
                return;
            }
            handleProcessingResult(std::move(result));
        });
}

void RewriteWorkflow::advanceProcessingAnimation() {
    const int index = ((animationStep_ % 3) + 3) % 3;
    const std::string frame = kAnimationFrames[static_cast<std::size_t>(index)];
    s_.mainQueue.async([this, owner = owner_, frame] {
        if (owner.lock()) {
            s_.statusMenu.showProcessingFrame(frame);
        }
    });
    ++animationStep_;
}

void RewriteWorkflow::stopAnimation() {
    if (processingAnimationTimer_) {
        processingAnimationTimer_->invalidate();
        processingAnimationTimer_.reset();
    }
    s_.statusMenu.resetStatusIcon();
}

void RewriteWorkflow::handleProcessingResult(ProxyResult result) {
    isProcessingText_ = false;
    currentAPITask_.reset();
    stopAnimation();
    queueHUD(false);

    if (std::holds_alternative<ProxyCancelled>(result)) {
        logLine("API request was cancelled.");
        s_.bridge.restoreOriginalPasteboard();
        return;
    }
    if (auto* answer = std::get_if<ProxyAnswer>(&result)) {
        s_.bridge.placeResultOnPasteboard(answer->text);
        logLine("AI Response placed on pasteboard.");
        s_.bridge.simulateKeyPress(platform::Keystroke::Paste,
                                   [this, keep = owner_.lock()] { finishPasteAndRestore(); });
        return;
    }
    const ProxyError& error = std::get<ProxyError>(result);
    logLine("Error received from AI call: " + forLog(error.message));
    if (error.kind == ProxyError::Kind::Authentication) {
        handleAuthenticationError();
        s_.bridge.restoreOriginalPasteboard();
        return;
    }
    s_.notices.showAlert("Processing Error", "Failed to process text. " + error.message,
                         platform::AlertStyle::Critical);
    s_.bridge.restoreOriginalPasteboard();
}

void RewriteWorkflow::finishPasteAndRestore() {
    s_.mainQueue.asyncAfter(kPasteCompletionToRestore,
                            [this, keep = owner_.lock(), run = currentRun_] {
                                // A rewrite started since has kept what the clipboard held before
                                // this one, and puts it back itself; restoring now would replace
                                // the selection it is copying.
                                if (run == currentRun_) {
                                    s_.bridge.restoreOriginalPasteboard();
                                }
                                logLine("Processing complete. Pasteboard restored.");
                            });
}

void RewriteWorkflow::handleAuthenticationError() {
    logLine("API returned authentication error. Signing out user.");
    if (s_.tokenStore.deleteToken()) {
        logLine("Invalid token successfully deleted from Keychain due to API auth error.");
    } else {
        logLine(
            "Warning: Failed to delete invalid token from Keychain after API auth error. "
            "Proceeding with local sign out.");
    }
    s_.account.authToken.reset();
    s_.account.isAuthenticated = false;
    s_.settings.saveAuthenticationFlag(false);
    // Otherwise the menu keeps offering "Sign out" until something else rebuilds it.
    s_.statusMenu.rebuildStatusMenu(s_.preferences.currentWritingStyle(), false);

    s_.mainQueue.async([this, owner = owner_] {
        if (owner.lock()) {
            s_.notices.showAlert("Authentication Error",
                                 "Your session has expired or is invalid. Please sign in again.",
                                 platform::AlertStyle::Informational);
        }
    });
}

void RewriteWorkflow::stopForTermination() {
    if (!isProcessingText_) {
        return;
    }
    if (currentAPITask_) {
        currentAPITask_->cancel();
    }
    stopAnimation();
    queueHUD(false);
}

void RewriteWorkflow::queueHUD(bool show) {
    // The panel is changed on a later turn of the main loop, never inside the caller.
    HUDManager& hud = s_.hud;
    if (show) {
        s_.mainQueue.async([&hud] { hud.showHUD("Velmoraing...", "sparkles"); });
    } else {
        s_.mainQueue.async([&hud] { hud.hideHUD(); });
    }
}

}  // namespace velmora
