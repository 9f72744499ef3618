#include "platform/linux/portal/CommandShortcut.h"

#include <cstdlib>

#include "platform/linux/RunningProgram.h"

namespace velmora::desktop {

std::string triggerCommandAdvice(std::string program) {
    const std::string command =
        shellWord(program.empty() ? runningProgramPath() : program) + " --trigger";
    const std::string quiet = "Once that key has reached Velmora, it no longer shows this notice.";
    const char* sway = std::getenv("SWAYSOCK");
    if (sway != nullptr && sway[0] != '\0') {
        // Without --no-repeat sway runs the command again for every repeat of a held key, and
        // the second run cancels the rewrite the first one started.
        return "To start a rewrite with a key anyway, add this line to your sway configuration "
               "(~/.config/sway/config) and reload it with Super+Shift+C:\n\n    bindsym "
               "--no-repeat Ctrl+Shift+p exec " +
               command +
               "\n\nwith the keys you want in place of Ctrl+Shift+p. --no-repeat keeps a held key "
               "from running the command again. " +
               quiet;
    }
    return "To start a rewrite with a key anyway, open your desktop's keyboard settings, add a "
           "custom shortcut that runs the command\n\n    " +
           command + "\n\nand give it the keys you want to use. " + quiet;
}

}  // namespace velmora::desktop
