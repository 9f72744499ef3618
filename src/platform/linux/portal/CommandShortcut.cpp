#include "platform/linux/portal/CommandShortcut.h"

#include <QCoreApplication>

namespace velmora::desktop {
namespace {

// The path as a shell reads it: quoted when it holds anything a shell would split or expand.
std::string shellWord(const std::string& word) {
    if (word.find_first_not_of(
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

std::string runningProgram() {
    if (QCoreApplication::instance() == nullptr) {
        return "velmora";
    }
    return QCoreApplication::applicationFilePath().toStdString();
}

}  // namespace

std::string triggerCommandAdvice(std::string program) {
    const std::string command =
        shellWord(program.empty() ? runningProgram() : program) + " --trigger";
    return "To start a rewrite with a key anyway, open your desktop's keyboard settings, add a "
           "custom shortcut that runs the command\n\n    " +
           command +
           "\n\nand give it the keys you want to use. On sway, add to its configuration a line "
           "such as\n\n    bindsym --no-repeat Ctrl+Shift+p exec " +
           command + "\n\n(without --no-repeat, a held key would run the command again and again).";
}

}  // namespace velmora::desktop
