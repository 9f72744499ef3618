#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// Length of the well-formed multi-byte UTF-8 sequence at `s` (whose lead byte is 0x80 or above),
// or 0 when it is ill-formed (overlong, a surrogate, beyond U+10FFFF or truncated). Inline so the
// hot loops that copy text in runs can validate without a call per character.
inline std::size_t multiByteSequenceLength(const uint8_t* s, std::size_t available) {
    const uint8_t lead = s[0];
    const auto continues = [](uint8_t b) { return (b & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF) {
        return available >= 2 && continues(s[1]) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (available < 3) {
            return 0;
        }
        const uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
        const uint8_t high = lead == 0xED ? 0x9F : 0xBF;
        return s[1] >= low && s[1] <= high && continues(s[2]) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (available < 4) {
            return 0;
        }
        const uint8_t low = lead == 0xF0 ? 0x90 : 0x80;
        const uint8_t high = lead == 0xF4 ? 0x8F : 0xBF;
        return s[1] >= low && s[1] <= high && continues(s[2]) && continues(s[3]) ? 4 : 0;
    }
    return 0;
}

}  // namespace velmora
