#include "platform/linux/ProcessHardening.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

#include "base/Log.h"

namespace velmora::desktop {

void hardenProcess() {
    // The hard limit too, so nothing later in the process can raise it again.
    const rlimit noCore{0, 0};
    if (::setrlimit(RLIMIT_CORE, &noCore) != 0) {
        logLine("Could not turn off core dumps: " + std::string(std::strerror(errno)));
    }
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
        logLine("Could not make the process non-dumpable: " + std::string(std::strerror(errno)));
    }
}

void letDesktopPortalsIdentifyProcess() {
    if (::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) != 0) {
        logLine("Could not make the process known to the desktop portals: " +
                std::string(std::strerror(errno)));
    }
}

std::vector<std::string> takeArguments(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    for (int i = 1; i < argc; ++i) {
        std::memset(argv[i], 0, std::strlen(argv[i]));
    }
    return arguments;
}

}  // namespace velmora::desktop
