#pragma once

#include <functional>

namespace velmora::desktop {

// Runs `work` on a worker thread while the calling (main) thread goes on serving its events:
// other programs asking for the clipboard Velmora owns, the X connection, timers. User input waits,
// and so does the main queue's next block, as during a modal dialog. For calls that may block for
// long on something outside the program, such as the secret store's unlock prompt. Off the main
// thread, or without an application, `work` simply runs in place.
void runServingEvents(const std::function<void()>& work);

}  // namespace velmora::desktop
