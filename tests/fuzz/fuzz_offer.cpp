// Another Wayland client's clipboard offer: the formats it announces (lines before the first NUL)
// and the bytes it sends (the rest), as Velmora plans what to keep and reads the text.
#include <algorithm>

#include "FuzzSupport.h"
#include "platform/linux/ClipboardFormats.h"

using namespace velmora::desktop;

namespace {

bool validUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80 && (byte < 0xC2 || byte > 0xC3 || i + 1 == text.size() ||
                             (static_cast<unsigned char>(text[++i]) & 0xC0) != 0x80)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto end = std::min(input.find('\0'), input.size());
    const std::vector<std::string> offered = fuzz::split(input.substr(0, end), '\n');
    const std::string bytes = end < input.size() ? input.substr(end + 1) : "";

    const FormatPlan plan = planSnapshot(offered);
    const auto has = [](const std::vector<std::string>& list, const std::string& format) {
        return std::find(list.begin(), list.end(), format) != list.end();
    };
    int texts = 0;
    for (std::size_t i = 0; i < plan.read.size(); ++i) {
        FUZZ_CHECK(has(offered, plan.read[i]) && !has(plan.skipped, plan.read[i]));
        FUZZ_CHECK(!isProtocolTarget(plan.read[i]));
        FUZZ_CHECK(std::find(plan.read.begin() + i + 1, plan.read.end(), plan.read[i]) ==
                   plan.read.end());
        texts += isTextFormat(plan.read[i]) ? 1 : 0;
    }
    FUZZ_CHECK(texts <= 1);
    for (const std::string& format : offered) {
        FUZZ_CHECK(has(plan.read, format) || has(plan.skipped, format));
    }

    for (const std::string& format : plan.read) {
        if (!isTextFormat(format)) {
            continue;
        }
        const std::string text = textFromFormat(format, bytes);
        if (format == "UTF8_STRING") {
            FUZZ_CHECK(text == bytes);
        } else if (format == "STRING") {
            FUZZ_CHECK(validUtf8(text));
        } else {
            FUZZ_CHECK(text.size() <= bytes.size());
        }
    }
    return 0;
}
