// The settings file repair: only bytes that are not text are touched, the result is text that
// needs no further repair, the changed lines are counted and the first of them named by their keys.
#include <algorithm>

#include "FuzzSupport.h"
#include "base/UnicodeText.h"
#include "settings/SettingsText.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto repaired = repairSettingsText(input);
    FUZZ_CHECK(repaired.has_value() !=
               (isValidUtf8(input) && input.find('\0') == std::string::npos));
    if (!repaired) {
        return 0;
    }
    const std::string& text = repaired->text;
    FUZZ_CHECK(isValidUtf8(text) && text.find('\0') == std::string::npos &&
               !repairSettingsText(text));

    const auto before = fuzz::split(input, '\n');
    const auto after = fuzz::split(text, '\n');
    FUZZ_CHECK(before.size() == after.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) {
            continue;
        }
        if (changed < repaired->keys.size()) {
            const std::string& key = repaired->keys[changed];
            FUZZ_CHECK(key.empty() || after[i].find(key) < after[i].find('='));
        }
        ++changed;
    }
    FUZZ_CHECK(changed == repaired->changedLines &&
               repaired->keys.size() == std::min(changed, RepairedSettingsText::kMaxKeys));

    // Plain ASCII loses only its NULs.
    if (std::all_of(input.begin(), input.end(), [](char c) { return c >= 0; })) {
        std::string stripped = input;
        std::erase(stripped, '\0');
        FUZZ_CHECK(text == stripped);
    }
    return 0;
}
