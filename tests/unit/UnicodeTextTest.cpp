#include <gtest/gtest.h>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>
#include <string>
#include <vector>

#include "base/UnicodeText.h"

namespace velmora {
namespace {

// The whole text through one break iterator, without the shortcut for simple characters.
std::size_t referenceCount(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    iterator->setText(icu::UnicodeString::fromUTF8(text));
    std::size_t count = 0;
    while (iterator->next() != icu::BreakIterator::DONE) {
        ++count;
    }
    return count;
}

std::string utf8(UChar32 c) {
    char bytes[U8_MAX_LENGTH];
    int32_t length = 0;
    U8_APPEND_UNSAFE(bytes, length, c);
    return std::string(bytes, static_cast<std::size_t>(length));
}

// Every code point of a block of 256, on its own, before a joiner and between flag letters.
std::vector<std::string> blockTexts(UChar32 first) {
    std::vector<std::string> texts(3);
    for (UChar32 c = first; c < first + 256; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        texts[0] += utf8(c);
        texts[1] += utf8(c) + "\xE2\x80\x8D";
        texts[2] += utf8(c) + "\xF0\x9F\x87\xAF";
    }
    return texts;
}

TEST(UnicodeText, CountingAgreesWithTheBreakIteratorOnEveryCachedCodePoint) {
    std::vector<UChar32> blocks;
    for (UChar32 first = 0; first < 0x20000; first += 256) {
        blocks.push_back(first);
    }
    for (UChar32 first : {0x20000, 0x2F800, 0xE0000, 0xE0100, 0x10FF00}) {
        blocks.push_back(first);
    }
    for (const UChar32 first : blocks) {
        for (const std::string& text : blockTexts(first)) {
            ASSERT_EQ(characterCount(text), referenceCount(text))
                << "in the block at U+" << std::hex << first;
        }
    }
}

TEST(UnicodeText, TrimsUnicodeSpaceAndNewlinesAtBothEndsOnly) {
    EXPECT_EQ(trimWhitespaceAndNewlines("  hello \n"), "hello");
    EXPECT_EQ(trimWhitespaceAndNewlines("\t\r\n\v\f a b \xC2\x85"), "a b");
    // No-break space, ideographic space, line and paragraph separators.
    EXPECT_EQ(trimWhitespaceAndNewlines("\xC2\xA0\xE3\x80\x80x\xE2\x80\xA8\xE2\x80\xA9"), "x");
    EXPECT_EQ(trimWhitespaceAndNewlines(" \n "), "");
    EXPECT_EQ(trimWhitespaceAndNewlines(""), "");
    // Zero-width space is not white space; an invalid byte stops trimming and is kept.
    EXPECT_EQ(trimWhitespaceAndNewlines("\xE2\x80\x8B"
                                        "a "),
              "\xE2\x80\x8B"
              "a");
    EXPECT_EQ(trimWhitespaceAndNewlines(" \xFF "), "\xFF");
    EXPECT_EQ(trimWhitespaceAndNewlines(" e\xCC\x81 "), "e\xCC\x81");
}

TEST(UnicodeText, UppercasesAndValidates) {
    EXPECT_EQ(uppercased("straße é ǆ"), "STRASSE É Ǆ");
    EXPECT_EQ(uppercased("i"), "I");  // no Turkish dotted capital
    EXPECT_TRUE(isValidUtf8("café 👩‍👩‍👧"));
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_FALSE(isValidUtf8("\xC3\x28"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // a surrogate
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));      // truncated
}

}  // namespace
}  // namespace velmora
