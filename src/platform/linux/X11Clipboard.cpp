#include "platform/linux/X11Clipboard.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>

#include "platform/linux/ClipboardFormats.h"
#include "platform/linux/ServeEventsWhile.h"
#include "platform/linux/X11FocusedApplication.h"
#include "platform/linux/X11Selection.h"

namespace velmora::desktop {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using SharedBytes = X11Selections::SharedBytes;
using Formats = std::vector<std::pair<std::string, SharedBytes>>;
using ReadOutcome = X11Selections::ReadOutcome;
using SelectionData = X11Selections::SelectionData;

// An owner that answers at all answers TARGETS within a few milliseconds, so one that does not
// costs no more than that. One that does gets the rest of the time for the contents: a toolkit
// makes a large image's PNG only when asked, which takes a few hundred milliseconds.
constexpr auto kTargetsTime = 100ms;
constexpr auto kTextTime = 250ms;
constexpr auto kSnapshotTime = 800ms;
constexpr std::size_t kMaxSnapshotBytes = 64 * 1024 * 1024;
// How often a paste's wait looks for a window the application shows, and whether it is still up.
constexpr auto kLookInterval = 100ms;
// An application that asks before pasting reads the text first, to see what it would paste, shows
// its question within this time, and reads the text again once the user has answered.
constexpr auto kQuestionGrace = 200ms;
// A clipboard manager copies what we hold in a few milliseconds, a large image in a second or so;
// Quit waits no longer than this for one that does not answer.
constexpr auto kManagerWait = 3s;

// The text in Latin-1, as STRING carries it, or none when it has characters Latin-1 lacks.
std::optional<std::string> latin1(const std::string& utf8) {
    std::string result;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            result += static_cast<char>(byte);
        } else if ((byte == 0xC2 || byte == 0xC3) && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[++i]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            result += static_cast<char>(((byte & 0x03) << 6) | (next & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return result;
}

// The text under every name programs ask for it by.
void addTextFormats(Formats& formats, const SharedBytes& text) {
    const bool ascii = std::all_of(text->begin(), text->end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    for (const std::string& name : textFormatsToOffer()) {
        if (name != "STRING" || ascii) {
            formats.emplace_back(name, text);
        } else if (auto bytes = latin1(*text)) {
            formats.emplace_back(name, std::make_shared<const std::string>(std::move(*bytes)));
        }
    }
}

// The user's text from what the owner sent: TEXT comes in an encoding the owner chose.
std::string textOf(const SelectionData& data) {
    const bool chosenEncoding =
        data.format == "TEXT" && (data.type == "UTF8_STRING" || data.type == "STRING");
    return textFromFormat(chosenEncoding ? data.type : data.format, data.bytes);
}

SharedBytes heldText(const Formats& held) {
    for (const auto& [format, bytes] : held) {
        if (isTextFormat(format)) {
            return bytes;
        }
    }
    return nullptr;
}

// Which formats to read: the plan for what the owner offers, or, for an owner too old to list
// its formats, the text alone.
std::optional<FormatPlan> planFor(const X11Selections::Offered& offered) {
    if (offered.outcome == ReadOutcome::Read) {
        return planSnapshot(offered.formats);
    }
    if (offered.outcome == ReadOutcome::Refused) {
        return FormatPlan{{"UTF8_STRING"}, {}};
    }
    return std::nullopt;
}

}  // namespace

struct X11Clipboard::TakeWatch {
    std::function<void(platform::PasteTake)> report;
    SharedBytes text;
    platform::PasteWait wait;
    Clock::time_point start = Clock::now();
    // The application the paste goes to; none when no window has the focus.
    std::optional<X11FocusedApplication> target;
    // A window the application shows since the wait began, and when the last one went away.
    xcb_window_t question = XCB_WINDOW_NONE;
    std::optional<Clock::time_point> answered;
    Clock::time_point nextLook = Clock::now();
    // When the application last had the whole text with no question up.
    std::optional<Clock::time_point> read;

    Clock::time_point deadline() const {
        const auto longest = start + wait.whileConfirming;
        if (question != XCB_WINDOW_NONE) {
            return longest;
        }
        const auto usual = start + wait.patience;
        return answered ? std::min(longest, std::max(usual, *answered + wait.patience)) : usual;
    }
};

X11Clipboard::X11Clipboard() : selections_(X11Selections::connect()) {
    if (!selections_) {
        return;
    }
    selections_->listen(
        {[this](XSelection selection, xcb_window_t requestor, const std::string& target) {
             onDelivered(selection, requestor, target);
         },
         [this](XSelection selection) {
             if (selection == XSelection::Clipboard) {
                 lostClipboard();
             }
         }});
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { serve(); });
}

X11Clipboard::~X11Clipboard() {
    if (!thread_.joinable()) {
        return;
    }
    handToClipboardManager();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
}

// The connection's thread: answers other programs between the jobs the main thread hands over.
void X11Clipboard::serve() {
    for (;;) {
        std::deque<std::function<void()>> jobs;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            jobs.swap(jobs_);
        }
        for (const auto& job : jobs) {
            job();
        }
        lookAtTarget();
        selections_->dispatchPending();
        std::array<pollfd, 2> fds{{{selections_->fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}}};
        // A dropped connection is not watched any more; only jobs and the end wake the thread.
        // While a paste is awaited, its next look wakes the thread too.
        int timeout = -1;
        if (watch_) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(watch_->nextLook - Clock::now());
            timeout =
                static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, kLookInterval.count()));
        }
        ::poll(fds.data() + (selections_->connected() ? 0 : 1), selections_->connected() ? 2 : 1,
               timeout);
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
}

void X11Clipboard::onConnectionThread(const std::function<void()>& job) {
    if (!thread_.joinable()) {
        job();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back([&] {
            job();
            std::lock_guard doneLock(doneMutex);
            done = true;
            doneChanged.notify_all();
        });
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    // The owner asked may be this program's own toolkit, which answers from the main thread's
    // event loop: it goes on turning meanwhile.
    runServingEvents([&] {
        std::unique_lock lock(doneMutex);
        doneChanged.wait(lock, [&] { return done; });
    });
}

platform::Capability X11Clipboard::availability() {
    if (selections_ && selections_->connected()) {
        return platform::Capability::yes();
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return platform::Capability::no(
            "Velmora reaches the clipboard through an X display, and this session has none. Log "
            "in to an X11 session, or a Wayland session with XWayland, to rewrite text.");
    }
    if (!selections_) {
        return platform::Capability::no(std::string("Velmora could not connect to the X display ") +
                                        display +
                                        " to reach the clipboard. Restart Velmora "
                                        "once the desktop is running.");
    }
    return platform::Capability::no("Velmora lost its connection to the X display " +
                                    std::string(display) + ". Restart Velmora to rewrite text.");
}

std::optional<std::string> X11Clipboard::text() {
    std::optional<std::string> text;
    onConnectionThread([&] { text = readText(XSelection::Clipboard); });
    return text;
}

void X11Clipboard::setText(const std::string& text) {
    onConnectionThread([&] {
        own(Formats{{kTextFormat, std::make_shared<const std::string>(text)}});
    });
}

void X11Clipboard::clear() {
    restore({});
}

platform::ClipboardSnapshot X11Clipboard::snapshot() {
    platform::ClipboardSnapshot snapshot;
    onConnectionThread([&] { snapshot = takeSnapshot(); });
    return snapshot;
}

void X11Clipboard::restore(const platform::ClipboardSnapshot& snapshot) {
    Formats formats;
    for (const auto& [format, bytes] : snapshot.formats) {
        formats.emplace_back(format, std::make_shared<const std::string>(bytes));
    }
    onConnectionThread([&] {
        own(std::move(formats));
        putPrimaryBack();
    });
}

std::optional<std::string> X11Clipboard::primaryText() {
    std::optional<std::string> text;
    onConnectionThread([&] { text = readText(XSelection::Primary); });
    return text;
}

void X11Clipboard::offerPrimaryForPaste(const std::string& text) {
    onConnectionThread([&] {
        if (!primaryBefore_) {
            primaryBefore_ = PrimaryBefore{readText(XSelection::Primary), {}};
        }
        primaryBefore_->offered = text;
        ownPrimary(text);
    });
}

// After a paste through PRIMARY, PRIMARY holds what it held before, unless the user has selected
// something since. The terminal whose selection it was no longer shows it, but middle-click
// pastes it as before.
void X11Clipboard::putPrimaryBack() {
    if (!primaryBefore_) {
        return;
    }
    const PrimaryBefore before = std::move(*primaryBefore_);
    primaryBefore_.reset();
    if (!selections_ || selections_->owner(XSelection::Primary) != X11Selections::Owner::Us ||
        heldPrimary_ != before.offered) {
        return;
    }
    if (before.text) {
        ownPrimary(*before.text);
    } else {
        heldPrimary_.clear();
        selections_->clear(XSelection::Primary);
    }
}

bool X11Clipboard::focusedApplicationHoldsPrimary() {
    bool holds = false;
    onConnectionThread([&] {
        if (selections_ && selections_->connected()) {
            auto focused = X11FocusedApplication::now(selections_->connection());
            holds = focused && focused->holds(XCB_ATOM_PRIMARY);
        }
    });
    return holds;
}

bool X11Clipboard::handToClipboardManager() {
    bool handed = false;
    onConnectionThread([&] {
        handed = selections_ && selections_->handToClipboardManager(Clock::now() + kManagerWait);
    });
    return handed;
}

void X11Clipboard::whenTextTaken(platform::PasteWait wait, TakeDone done) {
    const std::uint64_t id = ++*latestWait_;
    // Told on the main thread, unless a later wait has replaced this one by then.
    auto report = [id, latest = std::weak_ptr(latestWait_),
                   done = std::move(done)](platform::PasteTake take) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [id, latest, done, take] {
                const auto current = latest.lock();
                if (current && *current == id) {
                    done(take);
                }
            },
            Qt::QueuedConnection);
    };
    onConnectionThread([&] { startWatch(wait, std::move(report)); });
}

void X11Clipboard::startWatch(platform::PasteWait wait,
                              std::function<void(platform::PasteTake)> report) {
    watch_.reset();
    if (!selections_ || !selections_->connected()) {
        report(platform::PasteTake::NotTaken);
        return;
    }
    SharedBytes text = heldText(heldClipboard_);
    if (!text || selections_->owner(XSelection::Clipboard) != X11Selections::Owner::Us) {
        report(platform::PasteTake::Replaced);
        return;
    }
    watch_ = std::make_unique<TakeWatch>();
    watch_->report = std::move(report);
    watch_->text = std::move(text);
    watch_->wait = wait;
    watch_->target = X11FocusedApplication::now(selections_->connection());
}

void X11Clipboard::onDelivered(XSelection selection, std::uint32_t requestor,
                               const std::string& target) {
    if (!watch_ || !isTextFormat(target)) {
        return;
    }
    // A terminal that pastes PRIMARY takes the text from there.
    const bool offered = selection == XSelection::Clipboard || heldPrimary_ == *watch_->text;
    if (watch_->question != XCB_WINDOW_NONE && !watch_->target->shows(watch_->question)) {
        watch_->question = XCB_WINDOW_NONE;
        watch_->answered = Clock::now();
    }
    // A read while the application's question is up is not yet the paste.
    if (!offered || watch_->question != XCB_WINDOW_NONE) {
        return;
    }
    if (!watch_->target) {
        endWatch(platform::PasteTake::Taken);
    } else if (watch_->target->owns(requestor)) {
        // Taken unless a question follows.
        watch_->read = Clock::now();
        watch_->nextLook = *watch_->read + kQuestionGrace;
    }
}

void X11Clipboard::lookAtTarget() {
    if (!watch_) {
        return;
    }
    const auto now = Clock::now();
    const bool due = now >= watch_->nextLook;
    if (due) {
        watch_->nextLook = now + kLookInterval;
    }
    if (due && watch_->target) {
        if (watch_->question == XCB_WINDOW_NONE) {
            watch_->question = watch_->target->newWindow();
        } else if (!watch_->target->shows(watch_->question)) {
            watch_->question = XCB_WINDOW_NONE;
            watch_->answered = now;
        }
    }
    if (watch_->question != XCB_WINDOW_NONE) {
        watch_->read.reset();
    }
    if (watch_->read && now >= *watch_->read + kQuestionGrace) {
        endWatch(platform::PasteTake::Taken);
    } else if (!watch_->read && now >= watch_->deadline()) {
        endWatch(platform::PasteTake::NotTaken);
    }
}

// Some terminals answer a paste they asked the user about by putting the text on the clipboard
// themselves and pasting from there: the application the paste went to taking the clipboard over
// has taken the text. Anyone else taking it has replaced it.
void X11Clipboard::lostClipboard() {
    if (!watch_) {
        return;
    }
    const xcb_window_t owner = selections_->ownerWindow(XSelection::Clipboard);
    const bool target = watch_->target && owner != XCB_WINDOW_NONE && watch_->target->owns(owner);
    endWatch(target ? platform::PasteTake::Taken : platform::PasteTake::Replaced);
}

void X11Clipboard::endWatch(platform::PasteTake take) {
    if (const std::unique_ptr<TakeWatch> watch = std::move(watch_)) {
        watch->report(take);
    }
}

platform::ClipboardSnapshot X11Clipboard::takeSnapshot() {
    if (!selections_) {
        return {};
    }
    switch (selections_->owner(XSelection::Clipboard)) {
        case X11Selections::Owner::None:
            return {};
        case X11Selections::Owner::Us: {
            platform::ClipboardSnapshot held;
            for (const auto& [format, bytes] : heldClipboard_) {
                held.formats.emplace_back(format, *bytes);
            }
            return held;
        }
        case X11Selections::Owner::Other:
            break;
    }
    const auto deadline = Clock::now() + kSnapshotTime;
    const X11Selections::Offered offered =
        selections_->offered(XSelection::Clipboard, Clock::now() + kTargetsTime);
    platform::ClipboardSnapshot snapshot;
    const auto plan = planFor(offered);
    if (!plan) {
        snapshot.notKept.push_back(std::string("the clipboard's formats: ") +
                                   X11Selections::describe(offered.outcome));
        return snapshot;
    }
    for (SelectionData& data :
         selections_->read(XSelection::Clipboard, plan->read, deadline, kMaxSnapshotBytes)) {
        if (data.outcome != ReadOutcome::Read) {
            snapshot.notKept.push_back(data.format + ": " + X11Selections::describe(data.outcome));
        } else if (isTextFormat(data.format)) {
            snapshot.formats.emplace_back(kTextFormat, textOf(data));
        } else {
            snapshot.formats.emplace_back(data.format, std::move(data.bytes));
        }
    }
    return snapshot;
}

void X11Clipboard::own(Formats held) {
    endWatch(platform::PasteTake::Replaced);
    if (held.empty()) {
        heldClipboard_ = {};
        if (selections_) {
            selections_->clear(XSelection::Clipboard);
        }
        return;
    }
    heldClipboard_ = std::move(held);
    Formats formats;
    for (const auto& [format, bytes] : heldClipboard_) {
        if (isTextFormat(format)) {
            addTextFormats(formats, bytes);
        } else {
            formats.emplace_back(format, bytes);
        }
    }
    if (!selections_ || !selections_->own(XSelection::Clipboard, formats)) {
        heldClipboard_ = {};
    }
}

std::optional<std::string> X11Clipboard::readText(XSelection selection) {
    if (!selections_) {
        return std::nullopt;
    }
    switch (selections_->owner(selection)) {
        case X11Selections::Owner::None:
            return std::nullopt;
        case X11Selections::Owner::Us:
            if (selection == XSelection::Primary) {
                return heldPrimary_;
            }
            if (const SharedBytes held = heldText(heldClipboard_)) {
                return *held;
            }
            return std::nullopt;
        case X11Selections::Owner::Other:
            break;
    }
    const auto deadline = Clock::now() + kTextTime;
    const auto plan = planFor(selections_->offered(selection, Clock::now() + kTargetsTime));
    if (!plan) {
        return std::nullopt;
    }
    const auto format = std::find_if(plan->read.begin(), plan->read.end(),
                                     [](const std::string& f) { return isTextFormat(f); });
    if (format == plan->read.end()) {
        return std::nullopt;
    }
    const SelectionData data =
        selections_->read(selection, {*format}, deadline, kMaxSnapshotBytes).front();
    return data.outcome == ReadOutcome::Read ? std::optional(textOf(data)) : std::nullopt;
}

void X11Clipboard::ownPrimary(const std::string& text) {
    heldPrimary_ = text;
    Formats formats;
    addTextFormats(formats, std::make_shared<const std::string>(text));
    if (!selections_ || !selections_->own(XSelection::Primary, formats)) {
        heldPrimary_.clear();
    }
}

std::unique_ptr<X11Clipboard> makeX11Clipboard() {
    auto clipboard = std::make_unique<X11Clipboard>();
    return clipboard->availability().available ? std::move(clipboard) : nullptr;
}

}  // namespace velmora::desktop
