#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Alerts.h"
#include "platform/Clipboard.h"
#include "platform/Keystrokes.h"
#include "platform/MainQueue.h"
#include "ui/Notices.h"

namespace velmora {

// The rewrite's way to the focused application's selection: save the clipboard, copy, read, put
// the answer on the clipboard, paste, put the saved contents back; and the permission to send
// keystrokes at all.
class ClipboardBridge {
  public:
    ClipboardBridge(platform::Clipboard& pasteboard, platform::Keystrokes& keystrokes,
                    platform::Alerts& alerts, platform::MainQueue& mainQueue, Notices& notices,
                    std::weak_ptr<void> owner);

    // Keeps what the clipboard holds and empties it, so a copy that finds nothing selected reads
    // nothing rather than the user's earlier clipboard.
    void saveOriginalPasteboard();
    std::optional<std::string> readPasteboardText();
    void placeResultOnPasteboard(const std::string& text);
    // Queued: puts back what the saves kept, once.
    void restoreOriginalPasteboard();
    // Queued: sends the keystroke; the completion follows 0.05 s after its key-up.
    void simulateKeyPress(platform::Keystroke keystroke, std::function<void()> completion);

    bool isAccessibilityTrusted();
    void checkAccessibilityPermissions(bool notifyIfGranted);
    void showAccessibilityPermissionAlert();

  private:
    platform::Clipboard& pasteboard_;
    platform::Keystrokes& keystrokes_;
    platform::Alerts& alerts_;
    platform::MainQueue& mainQueue_;
    Notices& notices_;
    std::weak_ptr<void> owner_;
    // What the clipboard held before the rewrite, from a save until the restore that puts it back.
    std::optional<platform::ClipboardSnapshot> originalPasteboardContent_;
};

}  // namespace velmora
