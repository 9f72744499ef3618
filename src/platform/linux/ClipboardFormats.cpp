#include "platform/linux/ClipboardFormats.h"

#include <algorithm>
#include <array>

namespace velmora::desktop {
namespace {

// Text formats, best first. UTF8_STRING holds the text as the user has it.
constexpr std::array<std::string_view, 6> kTextFormats = {
    "UTF8_STRING", "text/plain;charset=utf-8", "text/plain;charset=UTF-8", "text/plain", "STRING",
    "TEXT"};

// Targets of the selection protocol itself, handles to the owner's X resources (gone with it),
// and conversions no one needs kept.
constexpr std::array<std::string_view, 12> kProtocolTargets = {
    "TARGETS", "MULTIPLE",         "TIMESTAMP",       "SAVE_TARGETS",
    "DELETE",  "INSERT_SELECTION", "INSERT_PROPERTY", "PIXMAP",
    "BITMAP",  "DRAWABLE",         "COMPOUND_TEXT",   "application/x-qt-image"};

bool contains(const auto& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool isImage(std::string_view format) {
    return format.starts_with("image/");
}

}  // namespace

bool isProtocolTarget(std::string_view format) {
    return contains(kProtocolTargets, format);
}

bool isTextFormat(std::string_view format) {
    return contains(kTextFormats, format) || format.starts_with("text/plain;charset=");
}

FormatPlan planSnapshot(const std::vector<std::string>& offered) {
    FormatPlan plan;
    std::string text;
    for (const std::string_view candidate : kTextFormats) {
        if (contains(offered, candidate)) {
            text = candidate;
            break;
        }
    }
    std::string image = contains(offered, std::string_view("image/png")) ? "image/png" : "";
    for (const std::string& format : offered) {
        if (image.empty() && isImage(format)) {
            image = format;
        }
    }
    for (const std::string& format : offered) {
        const bool keep = format == text || format == image ||
                          (!isProtocolTarget(format) && !isTextFormat(format) && !isImage(format));
        if (!keep) {
            plan.skipped.push_back(format);
        } else if (!contains(plan.read, format)) {
            plan.read.push_back(format);
        }
    }
    return plan;
}

std::string textFromFormat(std::string_view format, std::string bytes) {
    if (format == "UTF8_STRING") {
        return bytes;
    }
    // STRING is Latin-1 by the protocol's definition.
    const bool latin1 = format == "STRING";
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        if (latin1 && byte >= 0x80) {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}

const std::vector<std::string>& textFormatsToOffer() {
    static const std::vector<std::string> formats(kTextFormats.begin(), kTextFormats.end());
    return formats;
}

}  // namespace velmora::desktop
