#pragma once

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

// The system clipboard. Text is UTF-8 with the line ends the user's text has.
class Clipboard {
  public:
    virtual ~Clipboard() = default;
    virtual Capability availability() = 0;
    // The plain text, or none when the clipboard holds no text.
    virtual std::optional<std::string> text() = 0;
    // Replaces the contents with the text alone.
    virtual void setText(const std::string& text) = 0;
    virtual void clear() = 0;
    // What the clipboard holds now, within bounded time and size.
    virtual ClipboardSnapshot snapshot() = 0;
    // Replaces the contents with the snapshot's formats; an empty snapshot leaves it empty.
    virtual void restore(const ClipboardSnapshot& snapshot) = 0;
};

}  // namespace velmora::platform
