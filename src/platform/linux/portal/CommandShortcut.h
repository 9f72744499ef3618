#pragma once

#include <string>

namespace velmora::desktop {

// What the user does where Velmora cannot bind a global shortcut: bind a key, in the desktop's own
// keyboard settings, to `velmora --trigger`. `program` is the path to run; by default this
// program's own.
std::string triggerCommandAdvice(std::string program = {});

}  // namespace velmora::desktop
