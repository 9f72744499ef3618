#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace velmora::desktop {

// The application that has the keyboard focus, as the X server knows it: the client whose window
// has the focus, and the process behind that client. Windows of another connection of the same
// process count as its own: a program may serve its selections on a connection of their own
// (LibreOffice's X11 toolkit does).
class X11FocusedApplication {
  public:
    // The application focused now; none when no window has the focus or it follows the pointer.
    static std::optional<X11FocusedApplication> now(xcb_connection_t* connection);

    // Whether the application made `window`.
    bool owns(xcb_window_t window);
    // Whether the application owns `selection` (it has a selection of its own).
    bool holds(xcb_atom_t selection);
    // A top-level window of its own that it shows now and did not show when this was made (a
    // question it asks before a paste), or none.
    xcb_window_t newWindow();
    // Whether `window` is on screen.
    bool shows(xcb_window_t window);

  private:
    X11FocusedApplication(xcb_connection_t* connection, xcb_window_t focus);

    xcb_window_t topLevel(xcb_window_t window);
    std::vector<xcb_window_t> shownTopLevels();
    bool sameClient(xcb_window_t window) const;

    xcb_connection_t* connection_;
    xcb_window_t root_;
    // The bits of a resource id that name the client that made it.
    std::uint32_t clientBits_;
    xcb_window_t focus_;
    std::optional<std::uint32_t> pid_;
    std::map<std::uint32_t, bool> sameProcess_;
    std::vector<xcb_window_t> shownAtStart_;
};

}  // namespace velmora::desktop
