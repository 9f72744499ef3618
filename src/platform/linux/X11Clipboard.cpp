#include "platform/linux/X11Clipboard.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>

#include "platform/linux/ClipboardFormats.h"
#include "platform/linux/ServeEventsWhile.h"
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

// The text under every name programs ask for it by, held once (twice for Latin-1 text that is
// not ASCII): an answer may be megabytes long.
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

std::optional<std::string> heldText(const Formats& held) {
    for (const auto& [format, bytes] : held) {
        if (isTextFormat(format)) {
            return *bytes;
        }
    }
    return std::nullopt;
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

X11Clipboard::X11Clipboard() : selections_(X11Selections::connect()) {
    if (!selections_) {
        return;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { serve(); });
}

X11Clipboard::~X11Clipboard() {
    if (!thread_.joinable()) {
        return;
    }
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
        selections_->dispatchPending();
        std::array<pollfd, 2> fds{{{selections_->fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}}};
        // A dropped connection is not watched any more; only jobs and the end wake the thread.
        ::poll(fds.data() + (selections_->connected() ? 0 : 1), selections_->connected() ? 2 : 1,
               -1);
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
    onConnectionThread([&] { own(std::move(formats)); });
}

std::optional<std::string> X11Clipboard::primaryText() {
    std::optional<std::string> text;
    onConnectionThread([&] { text = readText(XSelection::Primary); });
    return text;
}

void X11Clipboard::setPrimaryText(const std::string& text) {
    onConnectionThread([&] { ownPrimary(text); });
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
            return selection == XSelection::Clipboard ? heldText(heldClipboard_) : heldPrimary_;
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
