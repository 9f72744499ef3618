#include "app/RewriteWorkflow.h"

#include <array>
#include <utility>

#include "base/Log.h"
#include "base/UnicodeText.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

constexpr auto kCopyCompletionToRead = 150ms;
// The clipboard goes back no sooner than this after the paste's completion, however quickly the
// application took the answer...
constexpr auto kPasteCompletionToRestore = 100ms;
// ...nor sooner than this after it did: a program may ask once more right after its first read.
constexpr auto kTakenToRestore = 100ms;
// How long the answer stays on offer when the application does not take it: a few seconds, or a
// minute while it asks the user to confirm the paste.
constexpr platform::PasteWait kPasteWait{3s, 60s};
constexpr auto kAnimationInterval = 500ms;

constexpr std::array<const char*, 3> kAnimationFrames = {"circle.dotted", "circle.dotted.circle",
                                                         "circle.dotted.circle.fill"};

}  // namespace

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
    if (!s_.account.isAuthenticated()) {
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
    ++currentRun_;
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
    const Run run = ++currentRun_;
    queueHUD(true);
    // The request follows in a moment: the way to the service gets ready during the copy.
    s_.apiService.prepareConnection();
    s_.bridge.saveOriginalPasteboard();
    s_.bridge.simulateKeyPress(platform::Keystroke::Copy,
                               scope_.bind([this, run](const platform::KeystrokeResult& copy) {
                                   copyFinished(run, copy);
                               }));
}

void RewriteWorkflow::copyFinished(Run run, const platform::KeystrokeResult& copy) {
    using Outcome = platform::KeystrokeResult::Outcome;
    if (isCurrent(run) && isProcessingText_ && copy.outcome != Outcome::Sent) {
        if (copy.outcome == Outcome::NothingSelected) {
            logLine("Failed to copy text or no text selected.");
            finishWithoutText(
                "No Text Selected",
                "Could not detect any selected text to process. Please select text and try again.");
        } else {
            logLine("Copy keystroke failed: " + forLog(copy.message));
            finishWithoutText("Processing Error",
                              "Velmora could not copy the selected text. " + copy.message);
        }
        return;
    }
    s_.mainQueue.asyncAfter(kCopyCompletionToRead,
                            scope_.bind([this, run] { processCopiedText(run); }));
}

void RewriteWorkflow::processCopiedText(Run run) {
    if (!isCurrent(run) || !isProcessingText_) {
        logLine("Processing was cancelled during copy operation.");
        return;
    }
    const std::optional<std::string> text = s_.bridge.readPasteboardText();
    if (!text || text->empty()) {
        logLine("Failed to copy text or no text selected.");
        finishWithoutText(
            "No Text Selected",
            "Could not detect any selected text to process. Please select text and try again.");
        return;
    }
    logLine("Copied text (" + std::to_string(characterCount(*text)) + " chars). Processing...");

    animationStep_ = 0;
    processingAnimationTimer_ = s_.mainQueue.scheduleTimer(
        kAnimationInterval, true, scope_.bind([this] { advanceProcessingAnimation(); }));

    currentAPITask_ = s_.apiService.callLocalProxy(
        *text, s_.preferences.selectedModel().value_or(""), s_.preferences.styleInstruction(),
        s_.account.authToken(), scope_.bind([this, run](ProxyResult result) {
            // After a cancel, the clean-up and the restore have been done; pasting a late answer
            // now would land on whatever the clipboard holds by then.
            if (!isCurrent(run) || !isProcessingText_) {
                logLine("Result of a cancelled rewrite dropped.");
                return;
            }
            handleProcessingResult(std::move(result));
        }));
}

// The copy brought nothing to rewrite: the clipboard goes back before the notice shows.
void RewriteWorkflow::finishWithoutText(const std::string& title, const std::string& message) {
    isProcessingText_ = false;
    s_.bridge.restoreOriginalPasteboard();
    queueHUD(false);
    s_.notices.showAlert(title, message, platform::AlertStyle::Warning);
}

void RewriteWorkflow::advanceProcessingAnimation() {
    const int index = ((animationStep_ % 3) + 3) % 3;
    const std::string frame = kAnimationFrames[static_cast<std::size_t>(index)];
    s_.mainQueue.async(scope_.bind([this, frame] { s_.statusMenu.showProcessingFrame(frame); }));
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
        finishPasteAndRestore(currentRun_);
        return;
    }
    const ProxyError& error = std::get<ProxyError>(result);
    logLine("Error received from AI call: " + forLog(error.message));
    // The user's clipboard is back before any notice asks for their attention.
    s_.bridge.restoreOriginalPasteboard();
    if (error.kind == ProxyError::Kind::Authentication) {
        handleAuthenticationError();
        return;
    }
    s_.notices.showAlert("Processing Error", "Failed to process text. " + error.message,
                         platform::AlertStyle::Critical);
}

// The answer is on the clipboard: watch for the application to take it, paste, and put the
// user's clipboard back once both the shortest wait and the application's read are over. The
// watch starts before the keystroke, so a quick application's read is not missed.
void RewriteWorkflow::finishPasteAndRestore(Run run) {
    restoreFloorPassed_ = false;
    answerTaken_ = false;
    s_.bridge.whenResultTaken(kPasteWait, scope_.bind([this, run](platform::PasteTake take) {
        if (!isCurrent(run)) {
            return;
        }
        if (take == platform::PasteTake::Replaced) {
            // Something else went on the clipboard meanwhile, most likely by the user's hand.
            ++currentRun_;
            s_.bridge.keepCurrentPasteboard();
            logLine("Processing complete. The clipboard keeps what was put on it since the paste.");
            return;
        }
        if (take == platform::PasteTake::NotTaken) {
            logLine("The application did not take the pasted text in time.");
        }
        const auto settle = take == platform::PasteTake::Taken ? kTakenToRestore : 0ms;
        s_.mainQueue.asyncAfter(settle, scope_.bind([this, run] {
            answerTaken_ = true;
            restoreWhenPasted(run);
        }));
    }));
    s_.bridge.simulateKeyPress(platform::Keystroke::Paste,
                               scope_.bind([this, run](const platform::KeystrokeResult& paste) {
                                   pasteFinished(run, paste);
                               }));
}

void RewriteWorkflow::pasteFinished(Run run, const platform::KeystrokeResult& paste) {
    if (!isCurrent(run)) {
        return;
    }
    if (paste.outcome != platform::KeystrokeResult::Outcome::Sent) {
        // The answer stays where the user can paste it by hand; the earlier clipboard would
        // replace it.
        ++currentRun_;
        s_.bridge.keepCurrentPasteboard();
        logLine("Paste keystroke failed: " + forLog(paste.message));
        s_.notices.showAlert("Paste Failed",
                             "Velmora could not paste the rewritten text. " + paste.message +
                                 "\n\nThe answer is on the clipboard; paste it with Ctrl+V.",
                             platform::AlertStyle::Warning);
        return;
    }
    s_.mainQueue.asyncAfter(kPasteCompletionToRestore, scope_.bind([this, run] {
        restoreFloorPassed_ = true;
        restoreWhenPasted(run);
    }));
}

void RewriteWorkflow::restoreWhenPasted(Run run) {
    if (!isCurrent(run) || !restoreFloorPassed_ || !answerTaken_) {
        return;
    }
    ++currentRun_;
    s_.bridge.restoreOriginalPasteboard();
    logLine("Processing complete. Pasteboard restored.");
}

void RewriteWorkflow::handleAuthenticationError() {
    logLine("API returned authentication error. Signing out user.");
    s_.account.signOut([](bool tokenDeleted) {
        logLine(tokenDeleted
                    ? "Invalid token successfully deleted from Keychain due to API auth error."
                    : "Warning: Failed to delete invalid token from Keychain after API auth "
                      "error. Proceeding with local sign out.");
    });
    s_.mainQueue.async(scope_.bind([this] {
        s_.notices.showAlert("Authentication Error",
                             "Your session has expired or is invalid. Please sign in again.",
                             platform::AlertStyle::Informational);
    }));
}

void RewriteWorkflow::stopForTermination() {
    ++currentRun_;
    if (currentAPITask_) {
        currentAPITask_->cancel();
        currentAPITask_.reset();
    }
    if (isProcessingText_) {
        isProcessingText_ = false;
        stopAnimation();
        queueHUD(false);
    }
    // Whatever stage the rewrite was at, the user's clipboard is what stays behind.
    s_.bridge.restoreOriginalPasteboardNow();
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
