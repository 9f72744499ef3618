#include "platform/linux/X11FocusedApplication.h"

#include <xcb/res.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace velmora::desktop {
namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// The process that made the client of `window`, from the server (X-Resource 1.2, local clients
// only); none when the server cannot tell.
std::optional<std::uint32_t> processOf(xcb_connection_t* connection, xcb_window_t window) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_res_id);
    if (extension == nullptr || !extension->present) {
        return std::nullopt;
    }
    const xcb_res_client_id_spec_t asked{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    Reply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(
        connection, xcb_res_query_client_ids(connection, 1, &asked), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0;
         xcb_res_client_id_value_next(&ids)) {
        // Each answer begins with what it answers: the client and the kind of id.
        const auto* answers = reinterpret_cast<const xcb_res_client_id_spec_t*>(ids.data);
        if ((answers->mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(ids.data) == 1) {
            return *xcb_res_client_id_value_value(ids.data);
        }
    }
    return std::nullopt;
}

bool contains(const std::vector<xcb_window_t>& windows, xcb_window_t window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

}  // namespace

std::optional<X11FocusedApplication> X11FocusedApplication::now(xcb_connection_t* connection) {
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    if (!focus || focus->focus == XCB_WINDOW_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        focus->focus == root) {
        return std::nullopt;
    }
    return X11FocusedApplication(connection, focus->focus);
}

X11FocusedApplication::X11FocusedApplication(xcb_connection_t* connection, xcb_window_t focus)
    : connection_(connection),
      root_(xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root),
      clientBits_(~xcb_get_setup(connection)->resource_id_mask),
      focus_(focus),
      pid_(processOf(connection, focus)),
      shownAtStart_(shownTopLevels()) {
    shownAtStart_.push_back(topLevel(focus));
}

bool X11FocusedApplication::sameClient(xcb_window_t window) const {
    return (window & clientBits_) == (focus_ & clientBits_);
}

bool X11FocusedApplication::owns(xcb_window_t window) {
    if (window == XCB_WINDOW_NONE || window == root_) {
        return false;
    }
    if (sameClient(window)) {
        return true;
    }
    if (!pid_) {
        return false;
    }
    const auto [known, added] = sameProcess_.try_emplace(window & clientBits_, false);
    if (added) {
        known->second = processOf(connection_, window) == pid_;
    }
    return known->second;
}

bool X11FocusedApplication::holds(xcb_atom_t selection) {
    Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, selection), nullptr));
    return owner && owns(owner->owner);
}

// The highest ancestor the client made itself: the window a window manager frames, or a child of
// the root without one.
xcb_window_t X11FocusedApplication::topLevel(xcb_window_t window) {
    for (;;) {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
        if (!tree || tree->parent == root_ || tree->parent == XCB_WINDOW_NONE ||
            !sameClient(tree->parent)) {
            return window;
        }
        window = tree->parent;
    }
}

// The application's windows among the root's children that are on screen, menus and tooltips
// (override-redirect) left out. Under a window manager that frames windows there are none: the
// frames are the manager's.
std::vector<xcb_window_t> X11FocusedApplication::shownTopLevels() {
    std::vector<xcb_window_t> shown;
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr));
    if (!tree) {
        return shown;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        if (!owns(children[i])) {
            continue;
        }
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, children[i]), nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
            !attributes->override_redirect) {
            shown.push_back(children[i]);
        }
    }
    return shown;
}

xcb_window_t X11FocusedApplication::newWindow() {
    // Under a window manager the new window gets the focus; without one it is a new child of the
    // root.
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    if (focus && owns(focus->focus)) {
        const xcb_window_t top = topLevel(focus->focus);
        if (!contains(shownAtStart_, top)) {
            return top;
        }
    }
    for (const xcb_window_t window : shownTopLevels()) {
        if (!contains(shownAtStart_, window)) {
            return window;
        }
    }
    return XCB_WINDOW_NONE;
}

bool X11FocusedApplication::shows(xcb_window_t window) {
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

}  // namespace velmora::desktop
