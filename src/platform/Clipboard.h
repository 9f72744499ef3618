#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::platform {

// Everything the clipboard held at one moment: each format (MIME type) with its bytes.
struct ClipboardSnapshot {
    std::vector<std::pair<std::string, std::string>> formats;

    bool empty() const { return formats.empty(); }
    bool operator==(const ClipboardSnapshot&) const = default;
};

// The system clipboard (the CLIPBOARD selection on X11). Text is UTF-8.
class Clipboard {
  public:
    virtual ~Clipboard() = default;
    // The plain text, or none when the clipboard holds no text.
    virtual std::optional<std::string> text() = 0;
    virtual void clear() = 0;
    virtual void setText(const std::string& text) = 0;
    virtual ClipboardSnapshot snapshot() = 0;
    // Replaces the contents with the snapshot's formats; an empty snapshot leaves it empty.
    virtual void restore(const ClipboardSnapshot& snapshot) = 0;
};

}  // namespace velmora::platform
