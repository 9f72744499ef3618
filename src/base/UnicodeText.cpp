#include "base/UnicodeText.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

namespace velmora {
namespace {

// Whether a code point is white space or a newline character (Unicode White_Space covers the
// separators, tabs, line feeds and the next-line control).
bool isWhitespaceOrNewline(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const int32_t length = static_cast<int32_t>(bytes.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

namespace {

// Counts the clusters of a stretch that begins and ends at cluster boundaries.
std::size_t countWithBreakIterator(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    // One character iterator per thread: creating one costs far more than counting a short text.
    thread_local std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    std::size_t count = 0;
    if (U_SUCCESS(status) && iterator) {
        iterator->setText(&utext, status);
    }
    if (U_FAILURE(status) || !iterator) {
        count = text.size();
    } else {
        for (int32_t b = iterator->next(); b != icu::BreakIterator::DONE; b = iterator->next()) {
            ++count;
        }
    }
    utext_close(&utext);
    return count;
}

// A code point's Grapheme_Cluster_Break value with two flags the rules that look back need.
constexpr uint8_t kBreakMask = 0x1F;
constexpr uint8_t kInvalid = 0x1F;  // an ill-formed byte, left to the break iterator
constexpr uint8_t kPictographic = 0x20;
constexpr uint8_t kVirama = 0x40;
static_assert(U_GCB_ZWJ < kInvalid, "break values fit below the flags");

uint8_t propertiesFromIcu(UChar32 c) {
    auto value = static_cast<uint8_t>(u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK));
    if (u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC)) {
        value |= kPictographic;
    }
    if (value == U_GCB_EXTEND && u_getCombiningClass(c) == 9) {
        value |= kVirama;
    }
    return value;
}

// The properties of the first two planes (where nearly all text and emoji live), asked of ICU
// once per block of 256 code points on first use. A block is written under the lock and
// published by its flag, so readers never see it half-filled.
class PropertyTable {
  public:
    uint8_t lookup(UChar32 c) {
        if (c >= kSize) {
            return propertiesFromIcu(c);
        }
        const auto block = static_cast<std::size_t>(c) / kBlock;
        if (!ready_[block].load(std::memory_order_acquire)) {
            fill(block);
        }
        return values_[static_cast<std::size_t>(c)];
    }

  private:
    static constexpr UChar32 kSize = 0x20000;
    static constexpr std::size_t kBlock = 256;

    void fill(std::size_t block) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (ready_[block].load(std::memory_order_relaxed)) {
            return;
        }
        for (std::size_t c = block * kBlock; c < (block + 1) * kBlock; ++c) {
            values_[c] = propertiesFromIcu(static_cast<UChar32>(c));
        }
        ready_[block].store(true, std::memory_order_release);
    }

    std::array<uint8_t, kSize> values_{};
    std::array<std::atomic<bool>, kSize / kBlock> ready_{};
    std::mutex mutex_;
};

constinit PropertyTable propertyTable;

constexpr std::array<uint8_t, 0x80> kAsciiProperties = [] {
    std::array<uint8_t, 0x80> values{};
    for (std::size_t c = 0; c < values.size(); ++c) {
        values[c] = c == '\r'               ? U_GCB_CR
                    : c == '\n'             ? U_GCB_LF
                    : c < 0x20 || c == 0x7F ? U_GCB_CONTROL
                                            : U_GCB_OTHER;
    }
    return values;
}();

enum class Pair { breaks, joins, dependsOnContext, breaksUnlessLookback };

// What the rules of UAX #29 say between two adjacent code points from their break values alone.
// Only the rules that look further back (emoji joiner sequences, flag pairs, Indic conjuncts) and
// invalid bytes are left to the break iterator; no rule looks back past a certain break.
constexpr Pair pairFromBreakValues(int a, int b) {
    if (a == kInvalid || b == kInvalid) {
        return Pair::dependsOnContext;
    }
    if (a == U_GCB_CR && b == U_GCB_LF) {
        return Pair::joins;
    }
    if (a == U_GCB_CONTROL || a == U_GCB_CR || a == U_GCB_LF || b == U_GCB_CONTROL ||
        b == U_GCB_CR || b == U_GCB_LF) {
        return Pair::breaks;
    }
    if (b == U_GCB_EXTEND || b == U_GCB_ZWJ || b == U_GCB_SPACING_MARK || a == U_GCB_PREPEND) {
        return Pair::joins;
    }
    if ((a == U_GCB_L && (b == U_GCB_L || b == U_GCB_V || b == U_GCB_LV || b == U_GCB_LVT)) ||
        ((a == U_GCB_LV || a == U_GCB_V) && (b == U_GCB_V || b == U_GCB_T)) ||
        ((a == U_GCB_LVT || a == U_GCB_T) && b == U_GCB_T)) {
        return Pair::joins;
    }
    if (a == U_GCB_REGIONAL_INDICATOR && b == U_GCB_REGIONAL_INDICATOR) {
        return Pair::dependsOnContext;
    }
    // A joiner before a pictograph, or a consonant after a virama and its marks.
    if (a == U_GCB_ZWJ || a == U_GCB_EXTEND) {
        return Pair::breaksUnlessLookback;
    }
    return Pair::breaks;
}

constexpr std::array<std::array<Pair, 32>, 32> kPairs = [] {
    std::array<std::array<Pair, 32>, 32> pairs{};
    for (int a = 0; a < 32; ++a) {
        for (int b = 0; b < 32; ++b) {
            pairs[a][b] = pairFromBreakValues(a, b);
        }
    }
    return pairs;
}();

Pair pairBetween(uint8_t previous, uint8_t current, bool afterVirama) {
    const int a = previous & kBreakMask;
    const Pair pair = kPairs[a][current & kBreakMask];
    if (pair != Pair::breaksUnlessLookback) {
        return pair;
    }
    return (a == U_GCB_ZWJ && (current & kPictographic)) || afterVirama ? Pair::dependsOnContext
                                                                        : Pair::breaks;
}

}  // namespace

std::size_t characterCount(std::string_view text) {
    // Stretches between certain breaks whose code points certainly join are one character each;
    // only the stretches with a context-dependent pair go through the break iterator.
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    std::size_t count = 0;
    int32_t stretchStart = 0;
    bool stretchIsOneCharacter = true;
    bool stretchHasVirama = false;
    const auto breakBefore = [&](int32_t position, uint8_t current) {
        count += stretchIsOneCharacter ? 1
                                       : countWithBreakIterator(text.substr(
                                             static_cast<std::size_t>(stretchStart),
                                             static_cast<std::size_t>(position - stretchStart)));
        stretchStart = position;
        stretchIsOneCharacter = (current & kBreakMask) != kInvalid;
        stretchHasVirama = false;
    };
    uint8_t previous = 0;
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        uint8_t current;
        if (s[i] < 0x80) {
            current = kAsciiProperties[s[i++]];
        } else {
            UChar32 c;
            U8_NEXT(s, i, length, c);
            current = c < 0 ? kInvalid : propertyTable.lookup(c);
        }
        if (start == 0) {
            stretchIsOneCharacter = (current & kBreakMask) != kInvalid;
        } else {
            switch (pairBetween(previous, current, stretchHasVirama)) {
                case Pair::breaks:
                case Pair::breaksUnlessLookback:
                    breakBefore(start, current);
                    break;
                case Pair::joins:
                    break;
                case Pair::dependsOnContext:
                    stretchIsOneCharacter = false;
                    break;
            }
        }
        stretchHasVirama = stretchHasVirama || (current & kVirama) != 0;
        previous = current;
        // Two ASCII bytes in a row always break, unless they are CR LF.
        if (s[start] < 0x80) {
            while (i < length && s[i] < 0x80 && !(s[i - 1] == '\r' && s[i] == '\n')) {
                previous = kAsciiProperties[s[i]];
                breakBefore(i, previous);
                ++i;
            }
        }
    }
    if (length > 0) {
        breakBefore(length, 0);
    }
    return count;
}

namespace {

// Where the text is left once white space and newlines are taken off both ends.
std::pair<std::size_t, std::size_t> trimmedRange(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());

    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(s, next, length, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) {
            break;
        }
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(s, start, previous, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) {
            break;
        }
        end = previous;
    }
    return {static_cast<std::size_t>(start), static_cast<std::size_t>(end)};
}

}  // namespace

std::string trimWhitespaceAndNewlines(std::string_view text) {
    const auto [start, end] = trimmedRange(text);
    return std::string(text.substr(start, end - start));
}

void trimWhitespaceAndNewlinesInPlace(std::string& text) {
    const auto [start, end] = trimmedRange(text);
    text.erase(end);
    text.erase(0, start);
}

std::string uppercased(std::string_view text) {
    // Key names are mostly ASCII; the casing tables stay unloaded for them.
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
        std::string result(text);
        for (char& c : result) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        return result;
    }
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toUpper(icu::Locale::getRoot());
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

}  // namespace velmora
