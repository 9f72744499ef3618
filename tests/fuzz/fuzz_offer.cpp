// Another Wayland client's clipboard offer: the formats it announces (lines before the first NUL)
// and the bytes it sends (the rest), as Velmora plans what to keep and reads the text.
#include <algorithm>

#include "FuzzSupport.h"
#include "platform/linux/ClipboardFormats.h"

using namespace velmora::desktop;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t end = std::min(input.find('\0'), size);
    const std::vector<std::string> offered = fuzz::split(input.substr(0, end), '\n');
    const std::string bytes = input.substr(std::min(end + 1, size));
    const FormatPlan plan = planSnapshot(offered);
    const auto count = [](const std::vector<std::string>& list, const std::string& format) {
        return std::count(list.begin(), list.end(), format);
    };
    FUZZ_CHECK(std::count_if(plan.read.begin(), plan.read.end(), isTextFormat) <= 1);
    for (const std::string& format : offered) {
        FUZZ_CHECK(count(plan.read, format) + (count(plan.skipped, format) > 0) == 1);
        FUZZ_CHECK(count(plan.read, format) == 0 || !isProtocolTarget(format));
    }
    // Plain text loses the CR of each CRLF; STRING is Latin-1, two UTF-8 bytes above 0x7F.
    std::size_t crlf = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        crlf += bytes[i] == '\r' && bytes[i + 1] == '\n' ? 1 : 0;
    }
    const auto high = std::count_if(bytes.begin(), bytes.end(), [](char c) { return c < 0; });
    for (const std::string& format : plan.read) {
        const std::size_t expected = format == "UTF8_STRING" ? bytes.size()
                                     : format == "STRING"    ? bytes.size() - crlf + high
                                                             : bytes.size() - crlf;
        FUZZ_CHECK(!isTextFormat(format) || textFromFormat(format, bytes).size() == expected);
    }
    return 0;
}
