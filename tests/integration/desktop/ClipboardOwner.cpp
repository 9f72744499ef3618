// Another program on the display, behaving as the test asks:
//   ClipboardOwner [--primary | --both] [--mute] [--lag MS] FORMAT[|BYTES]...
//     holds a selection: TARGETS lists every FORMAT; a FORMAT|BYTES is served, a bare FORMAT is
//     never answered, and with --mute no request is. --both holds PRIMARY too, with the same
//     window; --lag takes MS to get to each event, as a busy program's selection thread does.
//     Prints "ready" once it owns the selection, and "lost" when it takes in that another
//     program took the clipboard.
//   ClipboardOwner --manager
//     a clipboard manager: on SAVE_TARGETS it copies the clipboard's text (with MULTIPLE) and
//     then holds it.
//   ClipboardOwner --paste [--confirm MS]
//     an application with the keyboard focus that pastes the clipboard's text when a line comes
//     on its input, taking a large answer's pieces slowly (150 ms apart): with --confirm it first
//     reads the text and shows a window of its own for MS, as a paste confirmation does. Prints
//     "received BYTES at NS", the monotonic time it had them all.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

xcb_connection_t* connection = xcb_connect(nullptr, nullptr);

xcb_atom_t intern(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, name.size(), name.data()), nullptr);
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

void roundTrip() {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

xcb_window_t makeWindow(bool shown) {
    const xcb_window_t made = xcb_generate_id(connection);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, 0, made,
                      xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root, 0, 0, 80, 40,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, 0, XCB_CW_EVENT_MASK, &events);
    if (shown) {
        xcb_map_window(connection, made);
    }
    roundTrip();
    return made;
}

// Asks for the clipboard's text as programs do (a clipboard manager with MULTIPLE), taking the
// pieces of a large answer (each announced by a new value of the property) slowly, up to the
// empty last one.
std::string pasteInto(xcb_window_t window, bool multiple = false) {
    const xcb_atom_t property = intern("VELMORA_TEST_PASTE");
    const xcb_atom_t pair[] = {intern("UTF8_STRING"), property};
    const xcb_atom_t pairs = intern("VELMORA_TEST_PAIRS");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, pairs, intern("ATOM_PAIR"), 32,
                        2, pair);
    xcb_convert_selection(connection, window, intern("CLIPBOARD"),
                          multiple ? intern("MULTIPLE") : pair[0], multiple ? pairs : property,
                          XCB_CURRENT_TIME);
    xcb_flush(connection);
    std::string text;
    bool incremental = false;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        const auto type = event->response_type & 0x7f;
        const bool newValue =
            type == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<xcb_property_notify_event_t*>(event)->state == XCB_PROPERTY_NEW_VALUE;
        std::free(event);
        if (type != XCB_SELECTION_NOTIFY && !(incremental && newValue)) {
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(incremental ? 150 : 0));
        auto* value =
            xcb_get_property_reply(connection,
                                   xcb_get_property(connection, 1, window, property,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 26),
                                   nullptr);
        const std::string piece(static_cast<const char*>(xcb_get_property_value(value)),
                                xcb_get_property_value_length(value));
        const bool announced = !incremental && value->type == intern("INCR");
        std::free(value);
        xcb_flush(connection);
        if (!announced && (!incremental || piece.empty())) {
            return text + piece;
        }
        text += announced ? "" : piece;
        incremental = true;
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    xcb_atom_t selection = intern("CLIPBOARD");
    // Each option given, with its value (MS) or 1.
    std::map<std::string, int> options;
    std::vector<xcb_atom_t> targets{intern("TARGETS")};
    std::map<xcb_atom_t, std::string> served;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto split = arg.find('|');
        if (arg == "--primary") {
            selection = XCB_ATOM_PRIMARY;
        } else if (arg.starts_with("--")) {
            options[arg] = arg == "--lag" || arg == "--confirm" ? std::atoi(argv[++i]) : 1;
        } else {
            targets.push_back(intern(arg.substr(0, split)));
            if (split != std::string::npos) {
                served[targets.back()] = arg.substr(split + 1);
            }
        }
    }
    const xcb_window_t window = makeWindow(options.contains("--paste"));
    if (options.contains("--paste")) {
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
        roundTrip();
        std::puts("ready");
        std::fflush(stdout);
        std::getchar();
        // An application that asks reads the text first, to see what it would paste.
        if (options["--confirm"] > 0) {
            pasteInto(window);
            const xcb_window_t question = makeWindow(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(options["--confirm"]));
            xcb_destroy_window(connection, question);
        }
        const std::size_t size = pasteInto(window).size();
        std::printf("received %zu at %lld\n", size,
                    static_cast<long long>(std::chrono::steady_clock::now().time_since_epoch() /
                                           std::chrono::nanoseconds(1)));
        std::fflush(stdout);
        return std::getchar();
    }
    const xcb_atom_t saveTargets = intern("SAVE_TARGETS");
    xcb_set_selection_owner(connection, window,
                            options.contains("--manager") ? intern("CLIPBOARD_MANAGER") : selection,
                            XCB_CURRENT_TIME);
    if (options.contains("--both")) {
        xcb_set_selection_owner(connection, window, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
    }
    std::free(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr));
    std::puts("ready");
    std::fflush(stdout);
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options["--lag"]));
        const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
        std::free(event);
        if ((request.response_type & 0x7f) == XCB_SELECTION_CLEAR) {
            std::puts("lost");
            std::fflush(stdout);
        }
        if ((request.response_type & 0x7f) != XCB_SELECTION_REQUEST || options.contains("--mute")) {
            continue;
        }
        const auto data = served.find(request.target);
        if (request.target == saveTargets) {
            served[intern("UTF8_STRING")] = pasteInto(window, true);
            xcb_set_selection_owner(connection, window, selection, XCB_CURRENT_TIME);
        } else if (request.target == targets[0]) {
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor,
                                request.property, XCB_ATOM_ATOM, 32, targets.size(),
                                targets.data());
        } else if (data != served.end()) {
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor,
                                request.property, request.target, 8, data->second.size(),
                                data->second.data());
        } else {
            continue;
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
