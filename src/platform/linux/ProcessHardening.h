#pragma once

#include <string>
#include <vector>

namespace velmora::desktop {

// The session token passes through this process (the sign-in callback URL) and lives in its
// memory: these keep it out of crash files and out of what other local users can read in /proc.

// No core file, and a process that is not dumpable: its memory cannot be written out on a crash,
// nor read or traced through /proc by other processes. Call first thing in main.
void hardenProcess();

// The desktop portals identify their caller through /proc/PID/root, which a non-dumpable process
// closes to the portal service: a session that needs portals makes the process dumpable again.
// Core files stay off.
void letDesktopPortalsIdentifyProcess();

// The program's arguments, copied; the originals are then blanked in place, so that
// /proc/PID/cmdline shows the program's name only, not a URL and the token in it.
std::vector<std::string> takeArguments(int argc, char** argv);

}  // namespace velmora::desktop
