#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A failed property aborts, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(c) \
    ((c) ? void() : (std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #c), abort()))

namespace fuzz {

inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts{{}};
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// Escapes every byte but letters and digits, as a form or query encoder may.
inline std::string percentEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        out += plain ? std::string(1, c)
                     : std::string{'%', "0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
    }
    return out;
}

}  // namespace fuzz
