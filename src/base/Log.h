#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

// Every event of note is one plain line on standard output. The sink is replaceable so tests can
// capture the same lines; writes are serialised because the network worker logs too.
void logLine(std::string_view line);

// Text from outside (a reply, a URL, a stored setting) for a log line: control characters escaped
// so it stays one line, and cut at a character boundary after `limit` bytes, saying the whole
// length.
constexpr std::size_t kLogExcerptBytes = 2048;
std::string forLog(std::string_view text, std::size_t limit = kLogExcerptBytes);

using LogSink = std::function<void(std::string_view)>;
// Installs a sink and returns the previous one; an empty sink restores standard output.
LogSink setLogSink(LogSink sink);

}  // namespace velmora
