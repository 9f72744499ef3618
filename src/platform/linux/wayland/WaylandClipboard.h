#pragma once

#include <memory>

#include "platform/Clipboard.h"

namespace velmora::desktop {

class WaylandConnection;

// The clipboard through the compositor's wlr data-control protocol, which lets a client with no
// focused surface read and set the selection (sway and other wlroots compositors, KWin). Owning
// the clipboard costs the event loop nothing: readers are written to from threads of their own.
// nullptr when the compositor does not offer data-control (GNOME's does not).
std::unique_ptr<platform::Clipboard> makeDataControlClipboard(
    std::shared_ptr<WaylandConnection> connection);

}  // namespace velmora::desktop
