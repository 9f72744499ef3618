#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/X11SelectionReplies.h"

namespace velmora::desktop {

// The two selections users copy and paste with.
enum class XSelection { Clipboard, Primary };

// The X selections on a connection and an unmapped window of Velmora's own, independent of the
// toolkit's (which may not be X11 at all, under XWayland). Reads wait with deadlines; owning
// answers other programs' requests, large data in increments.
//
// Single-threaded. Other programs are served from dispatchPending(), which the owner of this
// object runs whenever fd() is readable, and from inside every call that waits.
class X11Selections {
  public:
    using Deadline = std::chrono::steady_clock::time_point;

    // How asking the owner for one format ended.
    enum class ReadOutcome { Read, Refused, NoAnswer, TooLarge, DisplayLost };
    // In plain words, for a snapshot's list of what it did not keep.
    static const char* describe(ReadOutcome outcome);

    struct SelectionData {
        std::string format;
        ReadOutcome outcome = ReadOutcome::NoAnswer;
        std::string bytes;
        // The type the owner labelled the bytes with: a target such as TEXT may come as STRING
        // or UTF8_STRING.
        std::string type;
        // Bits per item (8, 16 or 32), as the owner wrote them.
        std::uint8_t itemBits = 0;
    };

    // Connects to $DISPLAY; nullptr when no X server is reachable.
    static std::unique_ptr<X11Selections> connect();
    ~X11Selections();
    X11Selections(const X11Selections&) = delete;
    X11Selections& operator=(const X11Selections&) = delete;

    bool connected() const;
    int fd() const;
    // For queries of other windows on the same connection.
    xcb_connection_t* connection() const { return connection_; }
    // Handles every event that has arrived, without waiting.
    void dispatchPending();

    enum class Owner { None, Us, Other };
    Owner owner(XSelection selection);
    // The window that owns the selection now, asked without handling any event.
    xcb_window_t ownerWindow(XSelection selection) {
        return currentOwner(selectionAtom(selection));
    }

    struct Offered {
        std::vector<std::string> formats;
        ReadOutcome outcome = ReadOutcome::NoAnswer;
    };
    // The formats the owner offers (its TARGETS, each once).
    Offered offered(XSelection selection, Deadline deadline);
    // Asks for every format at once and collects the answers until the deadline, keeping at
    // most `maxTotalBytes` in all. One result per format, in order.
    std::vector<SelectionData> read(XSelection selection, const std::vector<std::string>& formats,
                                    Deadline deadline, std::size_t maxTotalBytes);

    // Bytes offered under one or more formats, held once however many ask for them.
    using SharedBytes = std::shared_ptr<const std::string>;
    // Offers each (format, bytes) until another program takes the selection. Returns once the
    // server has made us the owner, so that input sent afterwards on any connection reaches
    // programs after the change, and, for the clipboard, once a previous owner that serves it
    // apart from its keys has shown it took in the change; false when the server refused.
    bool own(XSelection selection, const std::vector<std::pair<std::string, SharedBytes>>& formats);
    // Leaves the selection without an owner, whoever held it.
    void clear(XSelection selection);

    // What becomes of what we hold, told as it happens, from inside the calls that serve others.
    struct Listener {
        // `requestor` has taken the whole of `target`: written into its property, or for a large
        // answer, every piece taken and the empty piece that ends it too.
        std::function<void(XSelection, xcb_window_t requestor, const std::string& target)>
            delivered;
        // Another program took the selection.
        std::function<void(XSelection)> lost;
    };
    void listen(Listener listener) { listener_ = std::move(listener); }

    // Asks the clipboard manager, when there is one, to keep what we hold on the clipboard once
    // we are gone (ICCCM's SAVE_TARGETS), serving it while it copies. True once it said it has.
    bool handToClipboardManager(Deadline deadline);

  private:
    struct Offer {
        xcb_atom_t target;
        xcb_atom_t type;
        std::shared_ptr<const std::string> bytes;
    };
    struct Held {
        xcb_timestamp_t time = XCB_CURRENT_TIME;
        std::vector<Offer> offers;
    };
    // Data going to a requestor in increments, one piece per deletion of its property.
    struct Transfer {
        xcb_atom_t selection;
        xcb_window_t requestor;
        xcb_atom_t target;
        xcb_atom_t property;
        xcb_atom_t type;
        std::shared_ptr<const std::string> bytes;
        std::size_t offset = 0;
        std::chrono::steady_clock::time_point lastActivity;
        // The empty piece is out; the transfer ends when the requestor has taken it.
        bool ending = false;
    };
    struct PendingRead {
        xcb_atom_t selection;
        xcb_atom_t target;
        xcb_atom_t property;
        xcb_timestamp_t time;
        SelectionReply reply;
        bool done = false;
        SelectionData data;
    };

    X11Selections(xcb_connection_t* connection, xcb_window_t window);

    std::vector<xcb_atom_t> atoms(const std::vector<std::string>& names);
    std::vector<std::string> names(const std::vector<xcb_atom_t>& atoms);
    xcb_atom_t selectionAtom(XSelection selection) const;
    xcb_window_t currentOwner(xcb_atom_t selection);
    std::optional<xcb_timestamp_t> serverTime();
    bool waitUntil(const std::function<bool()>& done, Deadline deadline);
    void awaitPreviousOwner(xcb_window_t previous);

    void handle(const xcb_generic_event_t& event);
    void onSelectionNotify(const xcb_selection_notify_event_t& event);
    void onPropertyNotify(const xcb_property_notify_event_t& event);
    void fetch(PendingRead& read, xcb_atom_t property);
    void finish(PendingRead& read, ReadOutcome outcome);

    void onSelectionRequest(const xcb_selection_request_event_t& request);
    bool answer(const Held& held, xcb_atom_t selection, xcb_window_t requestor, xcb_atom_t target,
                xcb_atom_t property);
    bool answerMultiple(const Held& held, xcb_atom_t selection, xcb_window_t requestor,
                        xcb_atom_t property);
    void delivered(xcb_atom_t selection, xcb_window_t requestor, xcb_atom_t target);
    void sendNextPiece(Transfer& transfer);
    void forgetTransfers(const std::function<bool(const Transfer&)>& which, bool resetMask);

    xcb_connection_t* connection_;
    xcb_window_t window_;
    std::size_t pieceSize_;
    std::unordered_map<std::string, xcb_atom_t> atomsByName_;
    std::unordered_map<xcb_atom_t, std::string> namesByAtom_;
    xcb_atom_t clipboard_, targets_, multiple_, timestamp_, incr_, utf8_, text_, stampProperty_,
        manager_, saveTargets_, saveProperty_;
    std::vector<xcb_atom_t> readProperties_;
    std::size_t nextReadProperty_ = 0;

    std::map<xcb_atom_t, Held> held_;
    std::vector<Transfer> transfers_;
    std::vector<PendingRead>* reads_ = nullptr;
    std::size_t readBytes_ = 0;
    std::size_t maxReadBytes_ = 0;
    std::optional<xcb_timestamp_t> stamp_;
    Listener listener_;
    // The clipboard manager's answer to SAVE_TARGETS, once it came.
    std::optional<xcb_atom_t> saved_;
};

}  // namespace velmora::desktop
