// Another program on the display, behaving as the test asks:
//   ClipboardOwner [--primary | --both] [--mute] [--lag MS] FORMAT[|BYTES]...
//     holds a selection: TARGETS lists every FORMAT; a FORMAT|BYTES is served, a bare FORMAT is
//     never answered, and with --mute no request is. --both holds PRIMARY too, with the same
//     window; --lag takes MS to get to each event, as a busy program's selection thread does.
//     Prints "ready" once it owns the selection, and "lost" when it takes in that another
//     program took the clipboard.
//   ClipboardOwner --manager
//     a clipboard manager: on SAVE_TARGETS it copies the clipboard's text and then holds it.
//   ClipboardOwner --paste [--confirm MS] [--piece-delay MS]
//     an application with the keyboard focus that pastes the clipboard's text when a line comes
//     on its input: first, with --confirm, it shows a window of its own for MS; it takes a large
//     answer's pieces MS apart. Prints "received BYTES at NS", the monotonic time it had it all.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

xcb_connection_t* connection;
xcb_window_t window;

xcb_atom_t intern(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, name.size(), name.data()), nullptr);
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void say(const std::string& line) {
    std::puts(line.c_str());
    std::fflush(stdout);
}

// The next event of `type`; others are dropped.
std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> next(std::uint8_t type) {
    for (;;) {
        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(
            xcb_wait_for_event(connection), &std::free);
        if (!event || (event->response_type & 0x7f) == type) {
            return event;
        }
    }
}

// Takes (reads and deletes) a property of our window: its type and bytes.
std::pair<xcb_atom_t, std::string> take(xcb_atom_t property) {
    auto* reply = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 28),
        nullptr);
    std::pair<xcb_atom_t, std::string> value{
        reply->type, std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                                 xcb_get_property_value_length(reply))};
    std::free(reply);
    return value;
}

// Asks for the clipboard's text as programs do, taking a large answer's pieces `pieceDelay` apart.
std::string convertClipboard(int pieceDelay) {
    const xcb_atom_t property = intern("VELMORA_TEST_PASTE");
    xcb_convert_selection(connection, window, intern("CLIPBOARD"), intern("UTF8_STRING"), property,
                          XCB_CURRENT_TIME);
    xcb_flush(connection);
    next(XCB_SELECTION_NOTIFY);
    auto [type, bytes] = take(property);
    if (type != intern("INCR")) {
        return bytes;
    }
    for (std::string all;;) {
        const auto event = next(XCB_PROPERTY_NOTIFY);
        if (reinterpret_cast<xcb_property_notify_event_t*>(event.get())->state !=
            XCB_PROPERTY_NEW_VALUE) {
            continue;
        }
        sleepMs(pieceDelay);
        const std::string piece = take(property).second;
        xcb_flush(connection);
        if (piece.empty()) {
            return all;
        }
        all += piece;
    }
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
    return made;
}

void roundTrip() {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

int paste(int confirm, int pieceDelay) {
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    roundTrip();
    say("ready");
    std::getchar();
    if (confirm > 0) {
        const xcb_window_t question = makeWindow(true);
        roundTrip();
        sleepMs(confirm);
        xcb_destroy_window(connection, question);
    }
    const std::string text = convertClipboard(pieceDelay);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    say("received " + std::to_string(text.size()) + " at " +
        std::to_string(std::chrono::nanoseconds(now).count()));
    std::getchar();
    return 0;
}

void notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    const xcb_selection_notify_event_t notify{
        XCB_SELECTION_NOTIFY, 0,       0, request.time, request.requestor, request.selection,
        request.target,       property};
    xcb_send_event(connection, 0, request.requestor, 0, reinterpret_cast<const char*>(&notify));
    xcb_flush(connection);
}

}  // namespace

int main(int argc, char** argv) {
    connection = xcb_connect(nullptr, nullptr);
    xcb_atom_t selection = intern("CLIPBOARD");
    bool mute = false;
    bool both = false;
    bool manager = false;
    int lag = 0;
    int confirm = 0;
    int pieceDelay = 0;
    bool pasting = false;
    std::vector<xcb_atom_t> targets{intern("TARGETS")};
    std::map<xcb_atom_t, std::string> served;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto split = arg.find('|');
        const bool valued = i + 1 < argc;
        if (arg == "--primary") {
            selection = XCB_ATOM_PRIMARY;
        } else if (arg == "--both") {
            both = true;
        } else if (arg == "--mute") {
            mute = true;
        } else if (arg == "--manager") {
            manager = true;
        } else if (arg == "--paste") {
            pasting = true;
        } else if (valued && (arg == "--lag" || arg == "--confirm" || arg == "--piece-delay")) {
            (arg == "--lag"       ? lag
             : arg == "--confirm" ? confirm
                                  : pieceDelay) = std::atoi(argv[++i]);
        } else {
            targets.push_back(intern(arg.substr(0, split)));
            if (split != std::string::npos) {
                served[targets.back()] = arg.substr(split + 1);
            }
        }
    }
    window = makeWindow(pasting);
    if (pasting) {
        return paste(confirm, pieceDelay);
    }
    const xcb_atom_t saveTargets = intern("SAVE_TARGETS");
    xcb_set_selection_owner(connection, window, manager ? intern("CLIPBOARD_MANAGER") : selection,
                            XCB_CURRENT_TIME);
    if (both) {
        xcb_set_selection_owner(connection, window, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
    }
    roundTrip();
    say("ready");
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        sleepMs(lag);
        const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
        std::free(event);
        if ((request.response_type & 0x7f) == XCB_SELECTION_CLEAR) {
            say("lost");
        }
        if ((request.response_type & 0x7f) != XCB_SELECTION_REQUEST || mute) {
            continue;
        }
        if (request.target == saveTargets) {
            served[intern("UTF8_STRING")] = convertClipboard(0);
            xcb_set_selection_owner(connection, window, selection, XCB_CURRENT_TIME);
            notify(request, request.property);
            continue;
        }
        const auto data = served.find(request.target);
        if (request.target == targets[0]) {
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
        notify(request, request.property);
    }
}
