#include "app/ClipboardBridge.h"

#include <utility>

#include "base/Log.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

constexpr auto kKeyUpToCompletion = 50ms;

}  // namespace

ClipboardBridge::ClipboardBridge(platform::Clipboard& pasteboard, platform::Keystrokes& keystrokes,
                                 platform::Alerts& alerts, platform::MainQueue& mainQueue,
                                 Notices& notices)
    : pasteboard_(pasteboard),
      keystrokes_(keystrokes),
      alerts_(alerts),
      mainQueue_(mainQueue),
      notices_(notices) {}

void ClipboardBridge::saveOriginalPasteboard() {
    // With an earlier rewrite's restore still pending, the clipboard holds that rewrite's answer:
    // what it saved is the user's own and stays the thing to put back.
    ++saves_;
    if (!originalPasteboardContent_) {
        originalPasteboardContent_ = pasteboard_.snapshot();
        for (const std::string& format : originalPasteboardContent_->notKept) {
            logLine("Clipboard: could not keep " + forLog(format));
        }
    }
    pasteboard_.clear();
}

std::optional<std::string> ClipboardBridge::readPasteboardText() {
    return pasteboard_.text();
}

void ClipboardBridge::placeResultOnPasteboard(const std::string& text) {
    pasteboard_.setText(text);
}

void ClipboardBridge::whenResultTaken(platform::PasteWait wait,
                                      platform::Clipboard::TakeDone done) {
    pasteboard_.whenTextTaken(wait, std::move(done));
}

void ClipboardBridge::restoreOriginalPasteboard() {
    mainQueue_.async(scope_.bind([this, saves = saves_] {
        if (saves == saves_) {
            restoreOriginalPasteboardNow();
        }
    }));
}

void ClipboardBridge::restoreOriginalPasteboardNow() {
    if (originalPasteboardContent_) {
        pasteboard_.restore(*originalPasteboardContent_);
        originalPasteboardContent_.reset();
    }
}

void ClipboardBridge::keepCurrentPasteboard() {
    originalPasteboardContent_.reset();
}

void ClipboardBridge::simulateKeyPress(platform::Keystroke keystroke, KeyPressDone completion) {
    mainQueue_.async(scope_.bind([this, keystroke, completion = std::move(completion)] {
        const platform::KeystrokeResult result = keystrokes_.send(keystroke);
        mainQueue_.asyncAfter(kKeyUpToCompletion, [completion, result] { completion(result); });
    }));
}

bool ClipboardBridge::isAccessibilityTrusted() {
    return keystrokes_.permission(false).available && pasteboard_.availability().available;
}

void ClipboardBridge::checkAccessibilityPermissions(bool notifyIfGranted) {
    const bool keystrokes = keystrokes_.permission(true).available;
    if (keystrokes && pasteboard_.availability().available) {
        logLine("Accessibility permissions already granted.");
        if (notifyIfGranted) {
            notices_.showAlert("Permissions Granted",
                               "Accessibility permissions are enabled for Velmora.",
                               platform::AlertStyle::Informational);
        }
        return;
    }
    logLine("Accessibility permissions are required.");
    showAccessibilityPermissionAlert();
}

// One notice for each thing this session lacks, in the platform's plain words on what to do.
void ClipboardBridge::showAccessibilityPermissionAlert() {
    mainQueue_.async(scope_.bind([this] {
        if (const auto keys = keystrokes_.permission(false); !keys.available) {
            alerts_.runModal({"Permissions Required",
                              keys.explanation,
                              platform::AlertStyle::Warning,
                              {"OK"},
                              std::nullopt});
        }
        if (const auto clipboard = pasteboard_.availability(); !clipboard.available) {
            alerts_.runModal({"Clipboard Not Available",
                              clipboard.explanation,
                              platform::AlertStyle::Warning,
                              {"OK"},
                              std::nullopt});
        }
    }));
}

}  // namespace velmora
