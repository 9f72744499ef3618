#pragma once

#include <string>
#include <string_view>
#include <vector>

// What of a clipboard is worth keeping across a rewrite, shared by every clipboard transport (X11
// selections, Wayland data-control). Formats are the names owners offer: MIME types, and on X11
// also atoms such as UTF8_STRING.
namespace velmora::desktop {

// The name a kept text goes by in a snapshot, whatever format it was read from.
inline constexpr const char* kTextFormat = "text/plain";

struct FormatPlan {
    // The formats to read, in order: at most one text format (the best offered) and one image
    // format (PNG when offered), and every other format the owner holds.
    std::vector<std::string> read;
    // What is left out, because it is a protocol target (TARGETS, TIMESTAMP, ...), a conversion
    // the owner would make from a format that is read, or private to one toolkit.
    std::vector<std::string> skipped;
};
FormatPlan planSnapshot(const std::vector<std::string>& offered);

// Whether `format` is part of the selection protocol or otherwise meaningless once copied (a
// handle, a toolkit's in-process object) rather than content the user copied.
bool isProtocolTarget(std::string_view format);

// Whether `format` is one of the text formats.
bool isTextFormat(std::string_view format);

// The user's text from the bytes of a text format. Plain-text formats carry CRLF line ends on some
// toolkits (the convention for text/plain); the user's text has LF.
std::string textFromFormat(std::string_view format, std::string bytes);

// The formats a kept text is offered under again, best first.
const std::vector<std::string>& textFormatsToOffer();

}  // namespace velmora::desktop
