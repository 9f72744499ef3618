// Text handling against ICU: the character count equals a break iterator's count over the whole
// text, validation equals ICU's, trimming is idempotent, and log excerpts stay one bounded line.
#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

#include "FuzzSupport.h"
#include "base/Log.h"
#include "base/UnicodeText.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        return std::unique_ptr<icu::BreakIterator>(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    }();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(input);

    iterator->setText(text);
    std::size_t count = 0;
    while (iterator->next() != icu::BreakIterator::DONE) {
        ++count;
    }
    FUZZ_CHECK(characterCount(input) == count);

    std::string repaired;
    text.toUTF8String(repaired);
    FUZZ_CHECK(isValidUtf8(input) == (repaired == input));

    const std::string trimmed = trimWhitespaceAndNewlines(input);
    FUZZ_CHECK(input.find(trimmed) != std::string::npos);
    FUZZ_CHECK(trimWhitespaceAndNewlines(trimmed) == trimmed);
    FUZZ_CHECK(!isValidUtf8(input) || isValidUtf8(uppercased(input)));

    // A log excerpt is one line, bounded, and still text when the input was.
    const std::string excerpt = forLog(input, 64);
    FUZZ_CHECK(excerpt.find_first_of("\n\r") == std::string::npos && excerpt.size() <= 4 * 64 + 40);
    FUZZ_CHECK(!isValidUtf8(input) || isValidUtf8(excerpt));
    return 0;
}
