// Holds a selection the way another program would, serving it from the command line:
//   ClipboardOwner [--primary | --both] [--mute] [--lag MS] FORMAT[|BYTES]...
// TARGETS lists every FORMAT; a FORMAT|BYTES is served, a bare FORMAT is never answered, and with
// --mute no request is. --both holds PRIMARY too, with the same window; --lag takes MS to get to
// each event, as a busy program's selection thread does. Prints "ready" once it owns the
// selection, and "lost" when it takes in that another program took the clipboard.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const auto intern = [&](const std::string& name) {
        auto* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, name.size(), name.data()), nullptr);
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    };
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, 0, window,
                      xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, 0, 0, nullptr);
    xcb_atom_t selection = intern("CLIPBOARD");
    bool mute = false;
    bool both = false;
    int lag = 0;
    std::vector<xcb_atom_t> targets{intern("TARGETS")};
    std::map<xcb_atom_t, std::string> served;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto split = arg.find('|');
        if (arg == "--primary") {
            selection = XCB_ATOM_PRIMARY;
        } else if (arg == "--both") {
            both = true;
        } else if (arg == "--mute") {
            mute = true;
        } else if (arg == "--lag" && i + 1 < argc) {
            lag = std::atoi(argv[++i]);
        } else {
            targets.push_back(intern(arg.substr(0, split)));
            if (split != std::string::npos) {
                served[targets.back()] = arg.substr(split + 1);
            }
        }
    }
    xcb_set_selection_owner(connection, window, selection, XCB_CURRENT_TIME);
    if (both) {
        xcb_set_selection_owner(connection, window, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
    }
    std::free(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr));
    std::puts("ready");
    std::fflush(stdout);
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(lag));
        const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
        std::free(event);
        if ((request.response_type & 0x7f) == XCB_SELECTION_CLEAR) {
            std::puts("lost");
            std::fflush(stdout);
        }
        const auto data = served.find(request.target);
        if ((request.response_type & 0x7f) != XCB_SELECTION_REQUEST || mute ||
            (request.target != targets[0] && data == served.end())) {
            continue;
        }
        if (request.target == targets[0]) {
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor,
                                request.property, XCB_ATOM_ATOM, 32, targets.size(),
                                targets.data());
        } else {
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor,
                                request.property, request.target, 8, data->second.size(),
                                data->second.data());
        }
        const xcb_selection_notify_event_t notify{XCB_SELECTION_NOTIFY,
                                                  0,
                                                  0,
                                                  request.time,
                                                  request.requestor,
                                                  request.selection,
                                                  request.target,
                                                  request.property};
        xcb_send_event(connection, 0, request.requestor, 0, reinterpret_cast<const char*>(&notify));
        xcb_flush(connection);
    }
}
