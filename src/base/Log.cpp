#include "base/Log.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

namespace velmora {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

LogSink& currentSink() {
    static LogSink sink;
    return sink;
}

}  // namespace

void logLine(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    if (currentSink()) {
        currentSink()(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string forLog(std::string_view text, std::size_t limit) {
    std::size_t cut = std::min(limit, text.size());
    // Back off continuation bytes so a character is never split.
    while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    std::string result;
    result.reserve(cut + 32);
    for (const char c : text.substr(0, cut)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n') {
            result += "\\n";
        } else if (byte == '\r') {
            result += "\\r";
        } else if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            result += "\\x";
            result += kHex[byte >> 4];
            result += kHex[byte & 0xF];
        } else {
            result += c;
        }
    }
    if (cut < text.size()) {
        result += "... (" + std::to_string(text.size()) + " bytes in all)";
    }
    return result;
}

LogSink setLogSink(LogSink sink) {
    std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

}  // namespace velmora
