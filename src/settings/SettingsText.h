#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// A settings file's bytes made into text, one line at a time, so that a damaged value costs only
// what is damaged in it. A byte that is not part of UTF-8 (a file saved by a Latin-1 editor, say)
// is read as the Latin-1 character it most likely was, and a NUL byte is dropped.
struct RepairedSettingsText {
    // The most keys named: a file of thousands of damaged lines needs no more to be recognised.
    static constexpr std::size_t kMaxKeys = 10;

    std::string text;
    // The keys of the first lines that changed, in file order ("" for a line without "="), and
    // how many lines changed in all.
    std::vector<std::string> keys;
    std::size_t changedLines = 0;
};

// None when the bytes are already text.
std::optional<RepairedSettingsText> repairSettingsText(std::string_view bytes);

}  // namespace velmora
