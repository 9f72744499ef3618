#include "app/UnicodeText.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <memory>

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

enum class Pair { breaks, joins, dependsOnContext };

int32_t clusterBreak(UChar32 c) {
    if (c < 0) {
        return -1;  // an invalid byte: left to the break iterator
    }
    if (c >= 0x20 && c < 0x7F) {
        return U_GCB_OTHER;
    }
    return u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
}

// What the rules of UAX #29 say between two adjacent code points from their break properties
// alone. Only the rules that look further back (emoji joiner sequences, flag pairs) and invalid
// bytes are left to the break iterator; no rule looks back past a certain break.
Pair pairBetween(int32_t a, int32_t b, UChar32 second, bool afterVirama) {
    if (a < 0 || b < 0) {
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
    if (a == U_GCB_ZWJ && u_hasBinaryProperty(second, UCHAR_EXTENDED_PICTOGRAPHIC)) {
        return Pair::dependsOnContext;
    }
    // Indic conjuncts join a consonant to the one before a virama and its marks.
    if (afterVirama && (a == U_GCB_EXTEND || a == U_GCB_ZWJ)) {
        return Pair::dependsOnContext;
    }
    return Pair::breaks;
}

}  // namespace

std::size_t characterCount(std::string_view text) {
    // Stretches between certain breaks whose code points certainly join are one character each;
    // only the stretches with a context-dependent pair go through the break iterator.
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    std::size_t count = 0;
    int32_t stretchStart = 0;
    bool stretchIsOneCharacter = true;
    bool stretchHasVirama = false;
    int32_t previous = 0;
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        const int32_t current = clusterBreak(c);
        if (start == 0) {
            stretchIsOneCharacter = current >= 0;
        } else {
            switch (pairBetween(previous, current, c, stretchHasVirama)) {
                case Pair::breaks:
                    count += stretchIsOneCharacter ? 1
                                                   : countWithBreakIterator(text.substr(
                                                         stretchStart, start - stretchStart));
                    stretchStart = start;
                    stretchIsOneCharacter = current >= 0;
                    stretchHasVirama = false;
                    break;
                case Pair::joins:
                    break;
                case Pair::dependsOnContext:
                    stretchIsOneCharacter = false;
                    break;
            }
        }
        stretchHasVirama =
            stretchHasVirama || (current == U_GCB_EXTEND && u_getCombiningClass(c) == 9);
        previous = current;
    }
    if (length > 0) {
        count += stretchIsOneCharacter
                     ? 1
                     : countWithBreakIterator(text.substr(stretchStart, length - stretchStart));
    }
    return count;
}

std::string trimWhitespaceAndNewlines(std::string_view text) {
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
    return std::string(
        text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

std::string uppercased(std::string_view text) {
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toUpper(icu::Locale::getRoot());
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

}  // namespace velmora
