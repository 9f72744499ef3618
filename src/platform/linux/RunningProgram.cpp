#include "platform/linux/RunningProgram.h"

#include <unistd.h>

#include <climits>
#include <string_view>

namespace velmora::desktop {

std::string runningProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
        return "velmora";
    }
    std::string program(path, static_cast<std::size_t>(length));
    // A build replaced while it runs: the new file sits at the old path.
    constexpr std::string_view kDeleted = " (deleted)";
    if (program.ends_with(kDeleted)) {
        program.resize(program.size() - kDeleted.size());
    }
    return program;
}

std::string shellWord(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+") ==
            std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace velmora::desktop
