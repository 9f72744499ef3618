#pragma once

#include <functional>
#include <string_view>

namespace velmora {

// Every event of note is one plain line on standard output. The sink is replaceable so tests can
// capture the same lines; writes are serialised because the network worker logs too.
void logLine(std::string_view line);

using LogSink = std::function<void(std::string_view)>;
// Installs a sink and returns the previous one; an empty sink restores standard output.
LogSink setLogSink(LogSink sink);

}  // namespace velmora
