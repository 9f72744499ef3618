#pragma once

#include <string>

namespace velmora::desktop {

// What the user does where Velmora cannot bind a global shortcut: bind a key, in the desktop's own
// keyboard settings (sway: its configuration, with --no-repeat), to `velmora --trigger`.
// `program` is the path to run; by default the file of this very program.
std::string triggerCommandAdvice(std::string program = {});

}  // namespace velmora::desktop
