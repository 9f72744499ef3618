#pragma once

#include <memory>

#include "platform/Http.h"

namespace velmora::desktop {

// The process's one HTTPS session (libcurl). `timeoutSeconds` counts time without progress;
// `totalLimitSeconds` bounds a whole exchange, however steadily it moves.
std::unique_ptr<platform::HttpSession> makeHttpSession(double timeoutSeconds = 60.0,
                                                       double totalLimitSeconds = 300.0);

}  // namespace velmora::desktop
