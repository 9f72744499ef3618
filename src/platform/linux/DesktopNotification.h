#pragma once

#include <string>

namespace velmora::desktop {

// Tells the user something that went wrong outside any window of Velmora's: a desktop
// notification (org.freedesktop.Notifications on the session bus), or where no notification
// service answers and a display is there, a small window. Also logged. Needs a QCoreApplication.
void tellUser(const std::string& title, const std::string& message);

}  // namespace velmora::desktop
