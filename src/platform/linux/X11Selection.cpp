#include "platform/linux/X11Selection.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>

namespace velmora::desktop {
namespace {

using Clock = std::chrono::steady_clock;

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// The server answers at once; longer means the connection is gone.
constexpr auto kServerTimeWait = std::chrono::seconds(2);
// A requestor that stops taking pieces of a large answer has gone away.
constexpr auto kTransferIdleLimit = std::chrono::seconds(10);
// A requestor's connection may lack BIG-REQUESTS, where one request carries at most 65535 words:
// larger answers go in pieces that fit.
constexpr std::size_t kHeaderRoom = 1024;
constexpr std::size_t kMaxPieceBytes = 65535 * 4 - kHeaderRoom;
constexpr std::size_t kMaxTargetsBytes = 64 * 1024;
// The previous owner answers within milliseconds, a few tens on a loaded machine; one that does
// not answer at all delays the paste no longer than this.
constexpr auto kCatchUpWait = std::chrono::milliseconds(100);
constexpr std::size_t kMinReadProperties = 16;

}  // namespace

const char* X11Selections::describe(ReadOutcome outcome) {
    switch (outcome) {
        case ReadOutcome::Read:
            return "kept";
        case ReadOutcome::Refused:
            return "refused by the program that holds it";
        case ReadOutcome::NoAnswer:
            return "no answer in time";
        case ReadOutcome::TooLarge:
            return "larger than Velmora keeps";
        case ReadOutcome::DisplayLost:
            return "the X display is gone";
    }
    return "";
}

std::unique_ptr<X11Selections> X11Selections::connect() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen == nullptr) {
        xcb_disconnect(connection);
        return nullptr;
    }
    // Never mapped: it exists to own selections and receive their answers.
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    return std::unique_ptr<X11Selections>(new X11Selections(connection, window));
}

X11Selections::X11Selections(xcb_connection_t* connection, xcb_window_t window)
    : connection_(connection), window_(window) {
    pieceSize_ = std::min<std::size_t>(
        kMaxPieceBytes, std::size_t{xcb_get_maximum_request_length(connection_)} * 4 - kHeaderRoom);
    const auto known =
        atoms({"CLIPBOARD", "TARGETS", "MULTIPLE", "TIMESTAMP", "INCR", "UTF8_STRING", "TEXT",
               "_VELMORA_TIMESTAMP", "CLIPBOARD_MANAGER", "SAVE_TARGETS", "_VELMORA_SAVE"});
    clipboard_ = known[0];
    targets_ = known[1];
    multiple_ = known[2];
    timestamp_ = known[3];
    incr_ = known[4];
    utf8_ = known[5];
    text_ = known[6];
    stampProperty_ = known[7];
    manager_ = known[8];
    saveTargets_ = known[9];
    saveProperty_ = known[10];
    xcb_flush(connection_);
}

X11Selections::~X11Selections() {
    xcb_destroy_window(connection_, window_);
    xcb_disconnect(connection_);
}

bool X11Selections::connected() const {
    return xcb_connection_has_error(connection_) == 0;
}

int X11Selections::fd() const {
    return xcb_get_file_descriptor(connection_);
}

std::vector<xcb_atom_t> X11Selections::atoms(const std::vector<std::string>& names) {
    std::vector<std::optional<xcb_intern_atom_cookie_t>> cookies(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!atomsByName_.contains(names[i])) {
            cookies[i] = xcb_intern_atom(
                connection_, 0, static_cast<std::uint16_t>(names[i].size()), names[i].data());
        }
    }
    std::vector<xcb_atom_t> result;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!cookies[i]) {
            result.push_back(atomsByName_.at(names[i]));
            continue;
        }
        Reply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection_, *cookies[i], nullptr));
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        if (atom != XCB_ATOM_NONE) {
            atomsByName_[names[i]] = atom;
            namesByAtom_[atom] = names[i];
        }
        result.push_back(atom);
    }
    return result;
}

std::vector<std::string> X11Selections::names(const std::vector<xcb_atom_t>& atoms) {
    std::vector<std::optional<xcb_get_atom_name_cookie_t>> cookies(atoms.size());
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        if (!namesByAtom_.contains(atoms[i])) {
            cookies[i] = xcb_get_atom_name(connection_, atoms[i]);
        }
    }
    std::vector<std::string> result;
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        if (!cookies[i]) {
            result.push_back(namesByAtom_.at(atoms[i]));
            continue;
        }
        Reply<xcb_get_atom_name_reply_t> reply(
            xcb_get_atom_name_reply(connection_, *cookies[i], nullptr));
        std::string name;
        if (reply) {
            name.assign(xcb_get_atom_name_name(reply.get()),
                        static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
            namesByAtom_[atoms[i]] = name;
            atomsByName_[name] = atoms[i];
        }
        result.push_back(std::move(name));
    }
    return result;
}

xcb_atom_t X11Selections::selectionAtom(XSelection selection) const {
    return selection == XSelection::Clipboard ? clipboard_ : xcb_atom_t{XCB_ATOM_PRIMARY};
}

xcb_window_t X11Selections::currentOwner(xcb_atom_t selection) {
    Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, selection), nullptr));
    return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
}

// The server's time now, from the notice of a change to a property of our own window. Owning with
// it is never "earlier than the last change" (which the server would ignore), and requests made
// with it are told apart from earlier ones.
std::optional<xcb_timestamp_t> X11Selections::serverTime() {
    stamp_.reset();
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, window_, stampProperty_,
                        XCB_ATOM_INTEGER, 32, 0, nullptr);
    waitUntil([this] { return stamp_.has_value(); }, Clock::now() + kServerTimeWait);
    return stamp_;
}

bool X11Selections::waitUntil(const std::function<bool()>& done, Deadline deadline) {
    for (;;) {
        dispatchPending();
        if (done()) {
            return true;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !connected()) {
            return false;
        }
        pollfd readable{fd(), POLLIN, 0};
        ::poll(&readable, 1, static_cast<int>(left.count()));
    }
}

void X11Selections::dispatchPending() {
    if (!connected()) {
        return;
    }
    xcb_flush(connection_);
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const Reply<xcb_generic_event_t> owned(event);
        handle(*event);
    }
    const auto idleSince = Clock::now() - kTransferIdleLimit;
    forgetTransfers([&](const Transfer& transfer) { return transfer.lastActivity < idleSince; },
                    true);
    xcb_flush(connection_);
}

void X11Selections::handle(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7f) {
        case 0: {
            const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
            // A requestor's window went away in the middle of a large answer.
            if (error.error_code == XCB_WINDOW) {
                const xcb_window_t gone = error.resource_id;
                forgetTransfers([&](const Transfer& t) { return t.requestor == gone; }, false);
            }
            break;
        }
        case XCB_SELECTION_NOTIFY:
            onSelectionNotify(reinterpret_cast<const xcb_selection_notify_event_t&>(event));
            break;
        case XCB_PROPERTY_NOTIFY:
            onPropertyNotify(reinterpret_cast<const xcb_property_notify_event_t&>(event));
            break;
        case XCB_SELECTION_REQUEST:
            onSelectionRequest(reinterpret_cast<const xcb_selection_request_event_t&>(event));
            break;
        case XCB_SELECTION_CLEAR: {
            // Another program took it; unless we took it back since, our data is no one's.
            const auto& clear = reinterpret_cast<const xcb_selection_clear_event_t&>(event);
            if (held_.contains(clear.selection) && currentOwner(clear.selection) != window_) {
                held_.erase(clear.selection);
                if (listener_.lost) {
                    listener_.lost(clear.selection == clipboard_ ? XSelection::Clipboard
                                                                 : XSelection::Primary);
                }
            }
            break;
        }
        default:
            break;
    }
}

X11Selections::Owner X11Selections::owner(XSelection selection) {
    dispatchPending();
    if (!connected()) {
        return Owner::None;
    }
    const xcb_atom_t atom = selectionAtom(selection);
    const xcb_window_t window = currentOwner(atom);
    dispatchPending();
    if (window == XCB_WINDOW_NONE) {
        return Owner::None;
    }
    return window == window_ && held_.contains(atom) ? Owner::Us : Owner::Other;
}

X11Selections::Offered X11Selections::offered(XSelection selection, Deadline deadline) {
    const SelectionData targets = read(selection, {"TARGETS"}, deadline, kMaxTargetsBytes).front();
    Offered result{{}, targets.outcome};
    if (targets.outcome != ReadOutcome::Read) {
        return result;
    }
    for (std::string& name :
         names(offeredTargets({XCB_ATOM_ATOM, targets.itemBits, targets.bytes}))) {
        if (!name.empty() &&
            std::find(result.formats.begin(), result.formats.end(), name) == result.formats.end()) {
            result.formats.push_back(std::move(name));
        }
    }
    return result;
}

std::vector<X11Selections::SelectionData> X11Selections::read(
    XSelection selection, const std::vector<std::string>& formats, Deadline deadline,
    std::size_t maxTotalBytes) {
    if (formats.empty()) {
        return {};
    }
    // Each request of a batch answers in a property of its own.
    std::vector<std::string> propertyNames;
    for (std::size_t i = readProperties_.size(); i < std::max(formats.size(), kMinReadProperties);
         ++i) {
        propertyNames.push_back("_VELMORA_SELECTION_" + std::to_string(i));
    }
    const auto more = atoms(propertyNames);
    readProperties_.insert(readProperties_.end(), more.begin(), more.end());

    const std::optional<xcb_timestamp_t> time = connected() ? serverTime() : std::nullopt;
    const std::vector<xcb_atom_t> targets = atoms(formats);
    std::vector<PendingRead> reads;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const xcb_atom_t property = readProperties_[nextReadProperty_];
        nextReadProperty_ = (nextReadProperty_ + 1) % readProperties_.size();
        PendingRead& pending = reads.emplace_back(PendingRead{selectionAtom(selection),
                                                              targets[i],
                                                              property,
                                                              time.value_or(XCB_CURRENT_TIME),
                                                              SelectionReply(incr_),
                                                              false,
                                                              {}});
        pending.data.format = formats[i];
        if (!time) {
            pending.done = true;
            pending.data.outcome = ReadOutcome::DisplayLost;
        } else if (targets[i] == XCB_ATOM_NONE) {
            pending.done = true;
            pending.data.outcome = ReadOutcome::Refused;
        } else {
            xcb_delete_property(connection_, window_, property);
            xcb_convert_selection(connection_, window_, pending.selection, pending.target, property,
                                  pending.time);
        }
    }
    reads_ = &reads;
    readBytes_ = 0;
    maxReadBytes_ = maxTotalBytes;
    waitUntil(
        [&] {
            return std::all_of(reads.begin(), reads.end(), [](const auto& r) { return r.done; });
        },
        deadline);
    reads_ = nullptr;

    std::vector<SelectionData> results;
    for (PendingRead& pending : reads) {
        if (!pending.done) {
            finish(pending, connected() ? ReadOutcome::NoAnswer : ReadOutcome::DisplayLost);
        }
        results.push_back(std::move(pending.data));
    }
    dispatchPending();
    return results;
}

void X11Selections::onSelectionNotify(const xcb_selection_notify_event_t& event) {
    if (event.requestor == window_ && event.selection == manager_) {
        saved_ = event.property;
        return;
    }
    if (event.requestor != window_ || reads_ == nullptr) {
        return;
    }
    // An answer to an earlier batch, arriving late, carries that batch's (earlier) time. Some
    // owners send no time at all.
    const auto current = [&](const PendingRead& pending) {
        return event.time == XCB_CURRENT_TIME || event.time >= pending.time;
    };
    for (PendingRead& pending : *reads_) {
        if (pending.done || pending.reply.incremental() || pending.selection != event.selection ||
            pending.target != event.target || !current(pending)) {
            continue;
        }
        if (event.property == XCB_ATOM_NONE) {
            finish(pending, ReadOutcome::Refused);
        } else {
            pending.property = event.property;
            fetch(pending, event.property);
        }
        return;
    }
}

void X11Selections::onPropertyNotify(const xcb_property_notify_event_t& event) {
    if (event.window == window_) {
        if (event.atom == stampProperty_) {
            stamp_ = event.time;
        } else if (event.state == XCB_PROPERTY_NEW_VALUE && reads_ != nullptr) {
            for (PendingRead& pending : *reads_) {
                if (!pending.done && pending.reply.incremental() &&
                    pending.property == event.atom) {
                    fetch(pending, event.atom);
                    return;
                }
            }
        }
        return;
    }
    if (event.state != XCB_PROPERTY_DELETE) {
        return;
    }
    // The requestor took the last piece: the next one, or the empty piece that ends it.
    const auto transfer = std::find_if(transfers_.begin(), transfers_.end(), [&](const auto& t) {
        return t.requestor == event.window && t.property == event.atom;
    });
    if (transfer == transfers_.end()) {
        return;
    }
    if (!transfer->ending) {
        sendNextPiece(*transfer);
        return;
    }
    const Transfer done = *transfer;
    forgetTransfers(
        [&](const Transfer& t) {
            return t.requestor == done.requestor && t.property == done.property;
        },
        true);
    delivered(done.selection, done.requestor, done.target);
}

// Takes (and deletes, which asks an incremental sender for the next piece) the answer in
// `property`, within what is left of the batch's size limit.
void X11Selections::fetch(PendingRead& pending, xcb_atom_t property) {
    const std::size_t room = maxReadBytes_ - readBytes_;
    const auto words = static_cast<std::uint32_t>(std::min<std::size_t>(room / 4 + 1, 1U << 30));
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 1, window_, property, XCB_GET_PROPERTY_TYPE_ANY, 0, words),
        nullptr));
    if (!reply) {
        finish(pending, ReadOutcome::Refused);
        return;
    }
    const std::size_t before = pending.reply.size();
    const auto state = pending.reply.take(
        {reply->type, reply->format,
         std::string_view(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))),
         reply->bytes_after},
        room);
    readBytes_ = readBytes_ - before + pending.reply.size();
    switch (state) {
        case SelectionReply::State::Waiting:
            return;
        case SelectionReply::State::Read:
            pending.data.type = names({pending.reply.type()}).front();
            pending.data.itemBits = pending.reply.format();
            pending.data.bytes = pending.reply.takeBytes();
            finish(pending, ReadOutcome::Read);
            return;
        case SelectionReply::State::Refused:
            finish(pending, ReadOutcome::Refused);
            return;
        case SelectionReply::State::TooLarge:
            // A value longer than asked for stays where it is: delete it, or the sender waits.
            xcb_delete_property(connection_, window_, property);
            finish(pending, ReadOutcome::TooLarge);
            return;
    }
}

void X11Selections::finish(PendingRead& pending, ReadOutcome outcome) {
    pending.done = true;
    pending.data.outcome = outcome;
}

bool X11Selections::own(XSelection selection,
                        const std::vector<std::pair<std::string, SharedBytes>>& formats) {
    if (!connected()) {
        return false;
    }
    const xcb_atom_t atom = selectionAtom(selection);
    std::vector<std::string> formatNames;
    std::transform(formats.begin(), formats.end(), std::back_inserter(formatNames),
                   [](const auto& format) { return format.first; });
    const std::vector<xcb_atom_t> targets = atoms(formatNames);
    Held held;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const bool known =
            std::any_of(held.offers.begin(), held.offers.end(),
                        [&](const Offer& offer) { return offer.target == targets[i]; });
        if (targets[i] == XCB_ATOM_NONE || known) {
            continue;
        }
        // TEXT names no encoding of its own; ours is UTF-8.
        held.offers.push_back(
            {targets[i], targets[i] == text_ ? utf8_ : targets[i], formats[i].second});
    }
    const xcb_window_t previous =
        atom == clipboard_ ? currentOwner(atom) : xcb_window_t{XCB_WINDOW_NONE};
    // A second try covers another program taking it between our time and our claim.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::optional<xcb_timestamp_t> time = serverTime();
        if (!time) {
            break;
        }
        held.time = *time;
        held_[atom] = held;
        xcb_set_selection_owner(connection_, window_, atom, *time);
        // The reply comes after the server made the change: what we send from now on, on any
        // connection, reaches other programs after it.
        if (currentOwner(atom) == window_) {
            awaitPreviousOwner(previous);
            dispatchPending();
            return true;
        }
    }
    held_.erase(atom);
    dispatchPending();
    return false;
}

// A program may serve its selections on a connection of their own, apart from the one its keys
// arrive on (LibreOffice's X11 toolkit does, from a thread of its own). Until that connection has
// taken in the news that the clipboard is ours, a paste pastes the program's own earlier copy, and
// on a busy machine the paste keystroke often gets there first. Nothing in the protocol confirms
// that an owner took in its loss; but asking it for something, on a selection the same window
// still holds (PRIMARY, as a program selecting text takes it), is answered only after everything
// sent to that connection before, the loss included.
void X11Selections::awaitPreviousOwner(xcb_window_t previous) {
    if (previous == XCB_WINDOW_NONE || previous == window_ ||
        currentOwner(XCB_ATOM_PRIMARY) != previous) {
        return;
    }
    // The window with the keyboard focus tells which connection the keys arrive on; an owner on
    // that same connection takes in the change before the keys, and needs no wait.
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    const std::uint32_t clientBits = ~xcb_get_setup(connection_)->resource_id_mask;
    if (focus && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT && focus->focus != XCB_WINDOW_NONE &&
        (focus->focus & clientBits) == (previous & clientBits)) {
        return;
    }
    read(XSelection::Primary, {"TARGETS"}, Clock::now() + kCatchUpWait, kMaxTargetsBytes);
}

void X11Selections::clear(XSelection selection) {
    if (!connected()) {
        return;
    }
    const xcb_atom_t atom = selectionAtom(selection);
    held_.erase(atom);
    const std::optional<xcb_timestamp_t> time = serverTime();
    xcb_set_selection_owner(connection_, XCB_WINDOW_NONE, atom, time.value_or(XCB_CURRENT_TIME));
    currentOwner(atom);
    dispatchPending();
}

bool X11Selections::handToClipboardManager(Deadline deadline) {
    const auto held = held_.find(clipboard_);
    if (!connected() || held == held_.end() || currentOwner(manager_) == XCB_WINDOW_NONE) {
        return false;
    }
    // The targets worth keeping: those we hold, not TARGETS and the like.
    std::vector<xcb_atom_t> targets;
    for (const Offer& offer : held->second.offers) {
        targets.push_back(offer.target);
    }
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, saveProperty_, XCB_ATOM_ATOM,
                        32, static_cast<std::uint32_t>(targets.size()), targets.data());
    saved_.reset();
    const std::optional<xcb_timestamp_t> time = serverTime();
    xcb_convert_selection(connection_, window_, manager_, saveTargets_, saveProperty_,
                          time.value_or(XCB_CURRENT_TIME));
    waitUntil([this] { return saved_.has_value(); }, deadline);
    xcb_delete_property(connection_, window_, saveProperty_);
    dispatchPending();
    return saved_.value_or(XCB_ATOM_NONE) != XCB_ATOM_NONE;
}

void X11Selections::onSelectionRequest(const xcb_selection_request_event_t& request) {
    // Requestors from before ICCCM 2 name no property: the target stands in for it.
    const xcb_atom_t property =
        request.property == XCB_ATOM_NONE ? request.target : request.property;
    bool answered = false;
    const auto held = held_.find(request.selection);
    if (held != held_.end() && request.owner == window_) {
        answered =
            request.target == multiple_
                ? request.property != XCB_ATOM_NONE &&
                      answerMultiple(held->second, request.selection, request.requestor, property)
                : answer(held->second, request.selection, request.requestor, request.target,
                         property);
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = answered ? property : xcb_atom_t{XCB_ATOM_NONE};
    xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
}

bool X11Selections::answer(const Held& held, xcb_atom_t selection, xcb_window_t requestor,
                           xcb_atom_t target, xcb_atom_t property) {
    if (target == targets_) {
        std::vector<xcb_atom_t> list{targets_, timestamp_, multiple_};
        for (const Offer& offer : held.offers) {
            if (std::find(list.begin(), list.end(), offer.target) == list.end()) {
                list.push_back(offer.target);
            }
        }
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM,
                            32, static_cast<std::uint32_t>(list.size()), list.data());
        return true;
    }
    if (target == timestamp_) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, requestor, property,
                            XCB_ATOM_INTEGER, 32, 1, &held.time);
        return true;
    }
    const auto offer = std::find_if(held.offers.begin(), held.offers.end(),
                                    [&](const Offer& o) { return o.target == target; });
    if (offer == held.offers.end()) {
        return false;
    }
    if (offer->bytes->size() <= pieceSize_) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, requestor, property, offer->type, 8,
                            static_cast<std::uint32_t>(offer->bytes->size()), offer->bytes->data());
        delivered(selection, requestor, target);
        return true;
    }
    // Too large for one request: announce the size, then a piece whenever the requestor has
    // deleted the property.
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, requestor, XCB_CW_EVENT_MASK, &events);
    const auto size = static_cast<std::uint32_t>(
        std::min<std::size_t>(offer->bytes->size(), std::numeric_limits<std::uint32_t>::max()));
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, requestor, property, incr_, 32, 1,
                        &size);
    forgetTransfers(
        [&](const Transfer& t) { return t.requestor == requestor && t.property == property; },
        false);
    transfers_.push_back(
        {selection, requestor, target, property, offer->type, offer->bytes, 0, Clock::now()});
    return true;
}

bool X11Selections::answerMultiple(const Held& held, xcb_atom_t selection, xcb_window_t requestor,
                                   xcb_atom_t property) {
    constexpr std::uint32_t kMaxPairWords = 4096;
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection_,
                               xcb_get_property(connection_, 0, requestor, property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPairWords),
                               nullptr));
    if (!reply || reply->format != 32) {
        return false;
    }
    const XPropertyValue pairs{
        reply->type, reply->format,
        std::string_view(static_cast<const char*>(xcb_get_property_value(reply.get())),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply.get())))};
    // Each pair answered, or its property None for a target we could not give.
    std::vector<xcb_atom_t> answers;
    for (const auto& [target, into] : requestedPairs(pairs, multiple_)) {
        const bool ok = into != XCB_ATOM_NONE && answer(held, selection, requestor, target, into);
        answers.push_back(target);
        answers.push_back(ok ? into : xcb_atom_t{XCB_ATOM_NONE});
    }
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, requestor, property, reply->type, 32,
                        static_cast<std::uint32_t>(answers.size()), answers.data());
    return true;
}

void X11Selections::sendNextPiece(Transfer& transfer) {
    const std::size_t size = std::min(pieceSize_, transfer.bytes->size() - transfer.offset);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, transfer.requestor, transfer.property,
                        transfer.type, 8, static_cast<std::uint32_t>(size),
                        transfer.bytes->data() + transfer.offset);
    transfer.offset += size;
    transfer.lastActivity = Clock::now();
    transfer.ending = size == 0;
}

void X11Selections::delivered(xcb_atom_t selection, xcb_window_t requestor, xcb_atom_t target) {
    const auto name = namesByAtom_.find(target);
    if (listener_.delivered && name != namesByAtom_.end()) {
        listener_.delivered(selection == clipboard_ ? XSelection::Clipboard : XSelection::Primary,
                            requestor, name->second);
    }
}

void X11Selections::forgetTransfers(const std::function<bool(const Transfer&)>& which,
                                    bool resetMask) {
    std::vector<xcb_window_t> requestors;
    const auto gone = std::remove_if(transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
        if (!which(t)) {
            return false;
        }
        requestors.push_back(t.requestor);
        return true;
    });
    transfers_.erase(gone, transfers_.end());
    if (!resetMask) {
        return;
    }
    // Stop hearing about the requestor's properties once nothing more goes to it.
    for (const xcb_window_t requestor : requestors) {
        const bool busy = std::any_of(transfers_.begin(), transfers_.end(),
                                      [&](const Transfer& t) { return t.requestor == requestor; });
        if (!busy) {
            const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
            xcb_change_window_attributes(connection_, requestor, XCB_CW_EVENT_MASK, &none);
        }
    }
}

}  // namespace velmora::desktop
