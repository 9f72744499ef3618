#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/WeakScope.h"
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
    using KeyPressDone = std::function<void(const platform::KeystrokeResult& result)>;

    ClipboardBridge(platform::Clipboard& pasteboard, platform::Keystrokes& keystrokes,
                    platform::Alerts& alerts, platform::MainQueue& mainQueue, Notices& notices);

    // Keeps what the clipboard holds and empties it, so a copy that finds nothing selected reads
    // nothing rather than the user's earlier clipboard.
    void saveOriginalPasteboard();
    std::optional<std::string> readPasteboardText();
    void placeResultOnPasteboard(const std::string& text);
    // What became of the text placed last, once an application has read it, the wait has ended
    // or something else replaced it.
    void whenResultTaken(platform::PasteWait wait, platform::Clipboard::TakeDone done);
    // Queued: puts back what the saves kept, once. A save made in between (a newer rewrite's)
    // leaves it to that rewrite.
    void restoreOriginalPasteboard();
    // The same at once, for the end of the program.
    void restoreOriginalPasteboardNow();
    // Forgets what the saves kept: the clipboard keeps what it holds now.
    void keepCurrentPasteboard();
    // Queued: sends the keystroke; the completion follows 0.05 s after its key-up, with what
    // became of it.
    void simulateKeyPress(platform::Keystroke keystroke, KeyPressDone completion);

    bool isAccessibilityTrusted();
    void checkAccessibilityPermissions(bool notifyIfGranted);
    void showAccessibilityPermissionAlert();

  private:
    platform::Clipboard& pasteboard_;
    platform::Keystrokes& keystrokes_;
    platform::Alerts& alerts_;
    platform::MainQueue& mainQueue_;
    Notices& notices_;
    // What the clipboard held before the rewrite, from a save until the restore that puts it back.
    std::optional<platform::ClipboardSnapshot> originalPasteboardContent_;
    std::uint64_t saves_ = 0;
    WeakScope scope_;
};

}  // namespace velmora
