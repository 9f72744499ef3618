#include <chrono>
#include <utility>

#include "app/AppDelegate.h"
#include "platform/Log.h"

namespace velmora {
namespace {

constexpr auto kKeyDownToKeyUp = std::chrono::microseconds(10000);
constexpr double kKeyUpToCompletion = 0.05;
constexpr const char* kAccessibilitySettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

}  // namespace

void AppDelegate::saveOriginalPasteboard() {
    originalPasteboardContent_ = pasteboard_.text();
    // Every format, not just the text, so images and files survive the rewrite.
    originalPasteboardSnapshot_ = pasteboard_.snapshot();
}

std::optional<std::string> AppDelegate::readPasteboardText() {
    return pasteboard_.text();
}

void AppDelegate::placeResultOnPasteboard(const std::string& text) {
    pasteboard_.clear();
    pasteboard_.setText(text);
}

void AppDelegate::restoreOriginalPasteboard() {
    platform_.mainQueue.async([self = shared_from_this()] {
        // A restore puts back what a save took; a second restore (an aborted request reporting
        // back) finds nothing pending and must not empty what the first put back.
        if (self->originalPasteboardSnapshot_) {
            self->pasteboard_.clear();
            self->pasteboard_.restore(*self->originalPasteboardSnapshot_);
        }
        self->originalPasteboardSnapshot_.reset();
        self->originalPasteboardContent_.reset();
    });
}

void AppDelegate::simulateKeyPress(std::uint16_t keyCode, std::uint64_t flags,
                                   std::function<void()> completion) {
    platform::KeyEvents& keys = platform_.keyEvents;
    platform::MainQueue& queue = platform_.mainQueue;
    queue.async([&keys, &queue, keyCode, flags, completion = std::move(completion)] {
        // Both events exist before either is posted, each carrying exactly `flags` so modifiers
        // the user still holds do not leak into the keystroke.
        const bool haveSource = keys.createSource();
        std::optional<platform::KeyEvent> down =
            keys.createKeyboardEvent(haveSource, keyCode, true);
        if (down) {
            down->flags = flags;
        }
        std::optional<platform::KeyEvent> up = keys.createKeyboardEvent(haveSource, keyCode, false);
        if (up) {
            up->flags = flags;
        }
        if (down) {
            keys.post(*down);
        }
        queue.sleepOnMainThread(kKeyDownToKeyUp);
        if (up) {
            keys.post(*up);
        }
        if (completion) {
            queue.asyncAfter(kKeyUpToCompletion, completion);
        }
    });
}

bool AppDelegate::isAccessibilityTrusted() {
    return platform_.accessibility.isProcessTrusted();
}

void AppDelegate::checkAccessibilityPermissions(bool notifyIfGranted) {
    if (platform_.accessibility.isProcessTrustedWithPrompt()) {
        logLine("Accessibility permissions already granted.");
        if (notifyIfGranted) {
            showAlert("Permissions Granted", "Accessibility permissions are enabled for Velmora.",
                      platform::AlertStyle::Informational);
        }
        return;
    }
    logLine("Accessibility permissions are required.");
    showAccessibilityPermissionAlert();
}

void AppDelegate::showAccessibilityPermissionAlert() {
    platform::Alerts& alerts = platform_.alerts;
    platform::Workspace& workspace = platform_.workspace;
    platform_.mainQueue.async([&alerts, &workspace] {
        platform::AlertRequest request;
        request.messageText = "Permissions Required";
        request.informativeText =
            "Velmora needs Accessibility permissions to copy and paste text automatically.\n\n"
            "Please grant access in:\nSystem Settings > Privacy & Security > Accessibility";
        request.style = platform::AlertStyle::Warning;
        request.buttons = {"Open Settings", "Cancel"};
        if (alerts.runModal(request).button == platform::alertFirstButtonReturn) {
            workspace.openURL(kAccessibilitySettingsURL);
        }
    });
}

}  // namespace velmora
