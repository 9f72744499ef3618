#include "settings/SettingsText.h"

#include <cstdint>

#include "base/Utf8Sequence.h"

namespace velmora {
namespace {

// The line as text, or none when it already was.
std::optional<std::string> repairedLine(std::string_view line) {
    std::string out;
    bool changed = false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(line.data());
    for (std::size_t i = 0; i < line.size();) {
        const std::uint8_t byte = bytes[i];
        std::size_t length = byte < 0x80 ? 1 : multiByteSequenceLength(bytes + i, line.size() - i);
        if (byte == 0) {
            changed = true;
            length = 1;
        } else if (length == 0) {
            changed = true;
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
            length = 1;
        } else {
            out.append(line.substr(i, length));
        }
        i += length;
    }
    return changed ? std::optional(std::move(out)) : std::nullopt;
}

std::string keyOf(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return {};
    }
    std::string_view key = line.substr(0, equals);
    while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) {
        key.remove_prefix(1);
    }
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
        key.remove_suffix(1);
    }
    return std::string(key);
}

}  // namespace

std::optional<RepairedSettingsText> repairSettingsText(std::string_view bytes) {
    RepairedSettingsText repaired;
    repaired.text.reserve(bytes.size());
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t newline = bytes.find('\n', start);
        const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
        const std::string_view line = bytes.substr(start, end - start);
        if (auto fixed = repairedLine(line)) {
            if (repaired.changedLines++ < RepairedSettingsText::kMaxKeys) {
                repaired.keys.push_back(keyOf(*fixed));
            }
            repaired.text += *fixed;
        } else {
            repaired.text.append(line);
        }
        start = end;
    }
    if (repaired.changedLines == 0) {
        return std::nullopt;
    }
    return repaired;
}

}  // namespace velmora
