#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Capability.h"

namespace velmora::platform {

// What the clipboard held at one moment: each kept format (a MIME type, "text/plain" for the
// text) with its bytes, and the formats that could not be kept with the reason.
struct ClipboardSnapshot {
    std::vector<std::pair<std::string, std::string>> formats;
    std::vector<std::string> notKept;

    bool empty() const { return formats.empty(); }
    bool operator==(const ClipboardSnapshot&) const = default;
};

// What became of the text offered for a paste.
enum class PasteTake {
    Taken,     // an application read the whole of it
    NotTaken,  // no application read all of it within the wait
    Replaced,  // something else was put on the clipboard meanwhile: the text is no longer offered
};

// How long to wait for a paste to be taken: `patience` in all, or up to `whileConfirming` when
// the focused application answers the paste keystroke with a window of its own (a confirmation
// it asks the user first, as some terminals do).
struct PasteWait {
    std::chrono::milliseconds patience;
    std::chrono::milliseconds whileConfirming;
};

// The system clipboard. Text is UTF-8 with the line ends the user's text has.
class Clipboard {
  public:
    using TakeDone = std::function<void(PasteTake)>;

    virtual ~Clipboard() = default;
    virtual Capability availability() = 0;
    // The plain text, or none when the clipboard holds no text.
    virtual std::optional<std::string> text() = 0;
    // Replaces the contents with the text alone.
    virtual void setText(const std::string& text) = 0;
    // Calls `done` once, on the main queue, with what became of the text last offered with
    // setText: as soon as an application has read the whole of it (however many pieces that
    // took), at the end of the wait, or as soon as something else replaces it. Only reads that
    // begin after this call count. A later call replaces an earlier one, which is then never
    // called.
    virtual void whenTextTaken(PasteWait wait, TakeDone done) = 0;
    virtual void clear() = 0;
    // What the clipboard holds now, within bounded time and size.
    virtual ClipboardSnapshot snapshot() = 0;
    // Replaces the contents with the snapshot's formats; an empty snapshot leaves it empty.
    virtual void restore(const ClipboardSnapshot& snapshot) = 0;
};

}  // namespace velmora::platform
