#include "platform/linux/wayland/WaylandClipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/linux/ClipboardFormats.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace velmora::desktop {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The text after a Copy: the application answers from its event loop, which a busy one may take
// a moment to reach.
constexpr auto kTextTimeLimit = 500ms;
// The snapshot is taken while the user waits for the rewrite to start: an owner that never
// answers may cost this much per format and this much in all. A toolkit makes a large image's
// PNG only when asked, which takes a few hundred milliseconds.
constexpr auto kFormatTimeLimit = 400ms;
constexpr auto kSnapshotTimeLimit = 800ms;
// More than any clipboard worth keeping across a rewrite.
constexpr std::size_t kMaxBytes = 64 * 1024 * 1024;
// A reader that takes nothing for this long has gone; its copy of the data is dropped.
constexpr int kWriterPatienceMs = 5000;

// One format's bytes, or why there are none.
struct Received {
    std::optional<std::string> bytes;
    std::string failure;
};

// Reads what the owner writes into `fd` until it closes its end.
Received readAll(int fd, Clock::time_point deadline, std::size_t cap) {
    std::string bytes;
    std::array<char, 65536> buffer;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return {std::nullopt, "no answer in time"};
        }
        pollfd readable = {fd, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        const ssize_t count = read(fd, buffer.data(), buffer.size());
        if (count == 0) {
            return {std::move(bytes), {}};
        }
        if (count < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return {std::nullopt, "could not be read"};
        }
        if (bytes.size() + static_cast<std::size_t>(count) > cap) {
            return {std::nullopt, "larger than Velmora keeps"};
        }
        bytes.append(buffer.data(), static_cast<std::size_t>(count));
    }
}

// Runs `job` on the main thread's event loop.
void onMainThread(std::function<void()> job) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(job), Qt::QueuedConnection);
}

// Writes the bytes for a reader on a thread of its own, so a large paste or a slow reader never
// holds up the event loop. A reader that closes early makes the write fail; SIGPIPE is blocked on
// that thread so this cannot end the program. `finished` learns, on that thread, whether the
// reader took every byte.
void writeDetached(int fd, std::shared_ptr<const std::string> bytes,
                   std::function<void(bool)> finished) {
    try {
        std::thread([fd, bytes = std::move(bytes), finished = std::move(finished)] {
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            std::size_t written = 0;
            while (written < bytes->size()) {
                pollfd writable = {fd, POLLOUT, 0};
                const int ready = poll(&writable, 1, kWriterPatienceMs);
                if (ready == 0 || (ready < 0 && errno != EINTR)) {
                    break;
                }
                const ssize_t count = write(fd, bytes->data() + written, bytes->size() - written);
                if (count < 0 && errno != EAGAIN && errno != EINTR) {
                    break;
                }
                written += static_cast<std::size_t>(std::max<ssize_t>(count, 0));
            }
            close(fd);
            if (finished) {
                finished(written == bytes->size());
            }
        }).detach();
    } catch (const std::system_error&) {
        close(fd);
    }
}

// Formats offered by a source of Velmora's, with bytes shared with the writing threads.
using Formats = std::vector<std::pair<std::string, std::shared_ptr<const std::string>>>;

void addFormat(Formats& formats, const std::string& name,
               const std::shared_ptr<const std::string>& bytes) {
    if (std::none_of(formats.begin(), formats.end(),
                     [&](const auto& format) { return format.first == name; })) {
        formats.emplace_back(name, bytes);
    }
}

// A text under every name a reader may ask for it by: X11 clients through XWayland as well as
// Wayland ones.
void addText(Formats& formats, const std::shared_ptr<const std::string>& text) {
    for (const std::string& name : textFormatsToOffer()) {
        addFormat(formats, name, text);
    }
    addFormat(formats, "text/plain;charset=utf-8", text);
    addFormat(formats, "text/plain", text);
}

class WaylandClipboard final : public platform::Clipboard {
  public:
    WaylandClipboard(std::shared_ptr<WaylandConnection> connection,
                     zwlr_data_control_manager_v1* manager);
    ~WaylandClipboard() override;

    platform::Capability availability() override;
    std::optional<std::string> text() override;
    void setText(const std::string& text) override;
    // Taken once a reader that asked for a text format after the call has taken every byte;
    // data-control does not say who reads, nor what the focused application shows, so the wait is
    // `patience` alone.
    void whenTextTaken(platform::PasteWait wait, TakeDone done) override;
    void clear() override;
    platform::ClipboardSnapshot snapshot() override;
    void restore(const platform::ClipboardSnapshot& snapshot) override;

  private:
    // Another client's offer of the selection, with the formats it announced.
    struct Offer {
        explicit Offer(zwlr_data_control_offer_v1* proxy) : proxy(proxy) {}
        ~Offer() { zwlr_data_control_offer_v1_destroy(proxy); }
        Offer(const Offer&) = delete;
        Offer& operator=(const Offer&) = delete;
        zwlr_data_control_offer_v1* proxy;
        std::vector<std::string> formats;
    };
    // Velmora's own selection.
    struct Source {
        Source(zwlr_data_control_source_v1* proxy, Formats formats)
            : proxy(proxy), formats(std::move(formats)) {}
        ~Source() { zwlr_data_control_source_v1_destroy(proxy); }
        Source(const Source&) = delete;
        Source& operator=(const Source&) = delete;
        zwlr_data_control_source_v1* proxy;
        Formats formats;
    };

    static const zwlr_data_control_device_v1_listener deviceListener;
    static const zwlr_data_control_offer_v1_listener offerListener;
    static const zwlr_data_control_source_v1_listener sourceListener;

    void onSelection(zwlr_data_control_offer_v1* offer);
    void onSend(zwlr_data_control_source_v1* source, const char* format, int fd);
    // Brings the selection up to date with what the compositor knows.
    bool refresh();
    std::vector<std::string> offeredFormats() const;
    Received receive(const std::string& format, Clock::time_point deadline, std::size_t cap);
    void own(Formats formats);
    void endWait(platform::PasteTake take);

    std::shared_ptr<WaylandConnection> connection_;
    zwlr_data_control_manager_v1* manager_;
    zwlr_data_control_device_v1* device_;
    // Offers announced and not yet made the selection.
    std::vector<std::unique_ptr<Offer>> announced_;
    std::unique_ptr<Offer> selection_;
    // Set while Velmora owns the selection: reads are then answered from memory, as the
    // compositor would ask this very thread to write them.
    std::unique_ptr<Source> own_;
    // The wait for a paste: its outcome goes to `taken`, unless a later wait replaced it.
    TakeDone taken_;
    std::shared_ptr<std::uint64_t> latestWait_ = std::make_shared<std::uint64_t>(0);
    QTimer patience_;
};

const zwlr_data_control_device_v1_listener WaylandClipboard::deviceListener = {
    .data_offer =
        [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* proxy) {
            auto& offer = static_cast<WaylandClipboard*>(data)->announced_.emplace_back(
                std::make_unique<Offer>(proxy));
            zwlr_data_control_offer_v1_add_listener(proxy, &offerListener, offer.get());
        },
    .selection =
        [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
            static_cast<WaylandClipboard*>(data)->onSelection(offer);
        },
    .finished =
        [](void* data, zwlr_data_control_device_v1*) {
            // The seat is gone; the device is of no more use.
            auto* clipboard = static_cast<WaylandClipboard*>(data);
            clipboard->onSelection(nullptr);
            clipboard->own_.reset();
            zwlr_data_control_device_v1_destroy(clipboard->device_);
            clipboard->device_ = nullptr;
        },
    // Only sent at version 2, which is not bound: the primary selection is not Velmora's concern.
    .primary_selection = [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {},
};

const zwlr_data_control_offer_v1_listener WaylandClipboard::offerListener = {
    .offer = [](void* data, zwlr_data_control_offer_v1*,
                const char* format) { static_cast<Offer*>(data)->formats.emplace_back(format); },
};

const zwlr_data_control_source_v1_listener WaylandClipboard::sourceListener = {
    .send = [](void* data, zwlr_data_control_source_v1* source, const char* format,
               int fd) { static_cast<WaylandClipboard*>(data)->onSend(source, format, fd); },
    .cancelled =
        [](void* data, zwlr_data_control_source_v1* source) {
            // Another client took the selection.
            auto* clipboard = static_cast<WaylandClipboard*>(data);
            if (clipboard->own_ && clipboard->own_->proxy == source) {
                clipboard->own_.reset();
                clipboard->endWait(platform::PasteTake::Replaced);
            }
        },
};

WaylandClipboard::WaylandClipboard(std::shared_ptr<WaylandConnection> connection,
                                   zwlr_data_control_manager_v1* manager)
    : connection_(std::move(connection)),
      manager_(manager),
      device_(zwlr_data_control_manager_v1_get_data_device(manager, connection_->seat())) {
    zwlr_data_control_device_v1_add_listener(device_, &deviceListener, this);
    connection_->roundtrip();
    patience_.setSingleShot(true);
    QObject::connect(&patience_, &QTimer::timeout,
                     [this] { endWait(platform::PasteTake::NotTaken); });
}

WaylandClipboard::~WaylandClipboard() {
    own_.reset();
    selection_.reset();
    announced_.clear();
    if (device_ != nullptr) {
        zwlr_data_control_device_v1_destroy(device_);
    }
    zwlr_data_control_manager_v1_destroy(manager_);
    connection_->flush();
}

void WaylandClipboard::onSelection(zwlr_data_control_offer_v1* offer) {
    selection_.reset();
    for (auto& announced : announced_) {
        if (offer != nullptr && announced->proxy == offer) {
            selection_ = std::move(announced);
        }
    }
    announced_.clear();
}

void WaylandClipboard::onSend(zwlr_data_control_source_v1* source, const char* format, int fd) {
    if (!own_ || own_->proxy != source) {
        close(fd);
        return;
    }
    for (const auto& [name, bytes] : own_->formats) {
        if (name != format) {
            continue;
        }
        std::function<void(bool)> finished;
        if (taken_ && isTextFormat(name)) {
            finished = [this, id = *latestWait_, latest = std::weak_ptr(latestWait_)](bool all) {
                onMainThread([this, id, latest, all] {
                    const auto current = latest.lock();
                    if (all && current && *current == id) {
                        endWait(platform::PasteTake::Taken);
                    }
                });
            };
        }
        writeDetached(fd, bytes, std::move(finished));
        return;
    }
    close(fd);
}

void WaylandClipboard::whenTextTaken(platform::PasteWait wait, TakeDone done) {
    ++*latestWait_;
    taken_ = std::move(done);
    if (!own_) {
        endWait(connection_->alive() ? platform::PasteTake::Replaced
                                     : platform::PasteTake::NotTaken);
        return;
    }
    patience_.start(wait.patience);
}

void WaylandClipboard::endWait(platform::PasteTake take) {
    patience_.stop();
    if (!taken_) {
        return;
    }
    onMainThread(
        [done = std::move(taken_), take, id = *latestWait_, latest = std::weak_ptr(latestWait_)] {
            const auto current = latest.lock();
            if (current && *current == id) {
                done(take);
            }
        });
    taken_ = nullptr;
}

platform::Capability WaylandClipboard::availability() {
    if (!connection_->alive()) {
        return platform::Capability::no(
            "Velmora lost its connection to the Wayland compositor. Restart Velmora to use the "
            "clipboard again.");
    }
    if (device_ == nullptr) {
        return platform::Capability::no(
            "The compositor no longer gives Velmora this seat's clipboard. Restart Velmora to use "
            "the clipboard again.");
    }
    return platform::Capability::yes();
}

bool WaylandClipboard::refresh() {
    return device_ != nullptr && connection_->roundtrip();
}

std::vector<std::string> WaylandClipboard::offeredFormats() const {
    std::vector<std::string> formats;
    if (own_) {
        for (const auto& format : own_->formats) {
            formats.push_back(format.first);
        }
    } else if (selection_) {
        formats = selection_->formats;
    }
    return formats;
}

Received WaylandClipboard::receive(const std::string& format, Clock::time_point deadline,
                                   std::size_t cap) {
    if (own_) {
        for (const auto& [name, bytes] : own_->formats) {
            if (name == format) {
                return bytes->size() > cap ? Received{std::nullopt, "larger than Velmora keeps"}
                                           : Received{*bytes, {}};
            }
        }
        return {std::nullopt, "no longer offered"};
    }
    if (!selection_) {
        return {std::nullopt, "no longer offered"};
    }
    // The owner writes into a blocking pipe, as owners expect; only this end waits with a limit.
    std::array<int, 2> ends{};
    if (pipe2(ends.data(), O_CLOEXEC) != 0) {
        return {std::nullopt, "no pipe to read it through"};
    }
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    zwlr_data_control_offer_v1_receive(selection_->proxy, format.c_str(), ends[1]);
    connection_->flush();
    close(ends[1]);
    Received received = readAll(ends[0], deadline, cap);
    close(ends[0]);
    return received;
}

std::optional<std::string> WaylandClipboard::text() {
    if (!refresh()) {
        return std::nullopt;
    }
    for (const std::string& format : planSnapshot(offeredFormats()).read) {
        if (isTextFormat(format)) {
            Received received = receive(format, Clock::now() + kTextTimeLimit, kMaxBytes);
            if (!received.bytes) {
                return std::nullopt;
            }
            return textFromFormat(format, std::move(*received.bytes));
        }
    }
    return std::nullopt;
}

platform::ClipboardSnapshot WaylandClipboard::snapshot() {
    platform::ClipboardSnapshot snapshot;
    if (!refresh()) {
        return snapshot;
    }
    const auto end = Clock::now() + kSnapshotTimeLimit;
    std::size_t total = 0;
    for (const std::string& format : planSnapshot(offeredFormats()).read) {
        const auto now = Clock::now();
        if (now >= end) {
            snapshot.notKept.push_back(format + ": not asked for, the owner used up the time");
            continue;
        }
        Received received =
            receive(format, std::min(now + kFormatTimeLimit, end), kMaxBytes - total);
        if (!received.bytes) {
            snapshot.notKept.push_back(format + ": " + received.failure);
            continue;
        }
        total += received.bytes->size();
        if (isTextFormat(format)) {
            snapshot.formats.emplace_back(kTextFormat,
                                          textFromFormat(format, std::move(*received.bytes)));
        } else {
            snapshot.formats.emplace_back(format, std::move(*received.bytes));
        }
    }
    return snapshot;
}

void WaylandClipboard::own(Formats formats) {
    endWait(platform::PasteTake::Replaced);
    if (device_ == nullptr || !connection_->alive()) {
        return;
    }
    auto source = std::make_unique<Source>(
        zwlr_data_control_manager_v1_create_data_source(manager_), std::move(formats));
    zwlr_data_control_source_v1_add_listener(source->proxy, &sourceListener, this);
    for (const auto& format : source->formats) {
        zwlr_data_control_source_v1_offer(source->proxy, format.first.c_str());
    }
    zwlr_data_control_device_v1_set_selection(device_, source->proxy);
    // The previous source goes only after the new selection is requested, so readers never see
    // the clipboard empty in between.
    own_ = std::move(source);
    // Returns once the compositor has made it the selection: a paste keystroke sent afterwards,
    // on any connection, finds it there.
    connection_->roundtrip();
}

void WaylandClipboard::setText(const std::string& text) {
    Formats formats;
    addText(formats, std::make_shared<const std::string>(text));
    own(std::move(formats));
}

void WaylandClipboard::clear() {
    if (device_ == nullptr) {
        return;
    }
    endWait(platform::PasteTake::Replaced);
    zwlr_data_control_device_v1_set_selection(device_, nullptr);
    own_.reset();
    connection_->roundtrip();
}

void WaylandClipboard::restore(const platform::ClipboardSnapshot& snapshot) {
    if (snapshot.empty()) {
        clear();
        return;
    }
    Formats formats;
    for (const auto& [format, bytes] : snapshot.formats) {
        auto shared = std::make_shared<const std::string>(bytes);
        if (format == kTextFormat) {
            addText(formats, shared);
        } else {
            addFormat(formats, format, shared);
        }
    }
    own(std::move(formats));
}

}  // namespace

std::unique_ptr<platform::Clipboard> makeDataControlClipboard(
    std::shared_ptr<WaylandConnection> connection) {
    if (!connection || connection->seat() == nullptr) {
        return nullptr;
    }
    // Version 1: the clipboard alone, no primary-selection events.
    auto* manager = static_cast<zwlr_data_control_manager_v1*>(
        connection->bind(zwlr_data_control_manager_v1_interface, 1));
    if (manager == nullptr) {
        return nullptr;
    }
    return std::make_unique<WaylandClipboard>(std::move(connection), manager);
}

}  // namespace velmora::desktop
