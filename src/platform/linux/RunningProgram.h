#pragma once

#include <string>

namespace velmora::desktop {

// The file of this very program, as the kernel knows it (/proc/self/exe): what a desktop must run
// to start this build again, wherever it lies. "velmora" (found on PATH) when unknown.
std::string runningProgramPath();

// `word` as one word of a shell command: quoted when it holds anything a shell would split or
// expand.
std::string shellWord(const std::string& word);

}  // namespace velmora::desktop
