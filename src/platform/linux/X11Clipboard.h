#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Clipboard.h"

namespace velmora::desktop {

class X11Selections;
enum class XSelection;

// The clipboard (and the PRIMARY selection) through Velmora's own X connection to $DISPLAY, also
// when the toolkit runs on Wayland with XWayland beside it. The connection has a thread of its
// own, which serves other programs whatever the main thread is doing: even this program's own
// toolkit, whose clipboard reads wait on the main thread, can paste what Velmora holds. While a
// call waits for that thread the main thread goes on serving its events, so an owner in this
// program can answer too. Reads give up after a fraction of a second, so an owner that never
// answers costs no more than that. Needs a QCoreApplication: whenTextTaken reports through its
// event loop.
//
// A paste is taken when the focused application has received the whole text: in one property, or
// in pieces up to the empty piece that ends them. Reads by other programs (a clipboard manager
// copying every change) do not count. An application that asks before pasting reads the text, shows
// a window of its own, and reads it again once the user has answered: a read counts once no new
// window of the application has followed it for a moment (200 ms). While such a window is up, the
// wait goes on up to `whileConfirming`; once it is gone, for `patience` more.
class X11Clipboard : public platform::Clipboard {
  public:
    // Connects to $DISPLAY; without one, availability() says why.
    X11Clipboard();
    ~X11Clipboard() override;

    platform::Capability availability() override;
    std::optional<std::string> text() override;
    // These return once the server has made Velmora the owner: a paste keystroke sent afterwards
    // reaches the target after the change.
    void setText(const std::string& text) override;
    void whenTextTaken(platform::PasteWait wait, TakeDone done) override;
    void clear() override;
    platform::ClipboardSnapshot snapshot() override;
    // Also gives PRIMARY back what it held before offerPrimaryForPaste, unless it changed since.
    void restore(const platform::ClipboardSnapshot& snapshot) override;

    // The PRIMARY selection (the mouse selection terminals paste).
    std::optional<std::string> primaryText();
    // Offers `text` as PRIMARY, for a paste that takes PRIMARY (Shift+Insert in xterm).
    void offerPrimaryForPaste(const std::string& text);
    // Whether the application with the keyboard focus owns PRIMARY: it has a selection.
    bool focusedApplicationHoldsPrimary();
    // Hands what Velmora holds on the clipboard to the clipboard manager, when there is one, so
    // that it outlives Velmora (ICCCM's SAVE_TARGETS); waits a few seconds at most. True once the
    // manager has taken it. Done on destruction too.
    bool handToClipboardManager();

  private:
    struct TakeWatch;

    // Runs `job` on the connection's thread and returns once it is done.
    void onConnectionThread(const std::function<void()>& job);
    void serve();
    std::optional<std::string> readText(XSelection selection);
    platform::ClipboardSnapshot takeSnapshot();
    // What is offered under each format; the bytes are shared with the offers.
    using Formats = std::vector<std::pair<std::string, std::shared_ptr<const std::string>>>;
    void own(Formats held);
    void ownPrimary(const std::string& text);
    void putPrimaryBack();

    // The wait for a paste, on the connection's thread.
    void startWatch(platform::PasteWait wait, std::function<void(platform::PasteTake)> report);
    void onDelivered(XSelection selection, std::uint32_t requestor, const std::string& target);
    void lookAtTarget();
    void lostClipboard();
    void endWatch(platform::PasteTake take);

    std::unique_ptr<X11Selections> selections_;
    // What Velmora offers while it owns each selection; reads then answer from it. Touched on the
    // connection's thread only.
    Formats heldClipboard_;
    std::string heldPrimary_;
    // What PRIMARY held before a paste took it, and what the paste offered.
    struct PrimaryBefore {
        std::optional<std::string> text;
        std::string offered;
    };
    std::optional<PrimaryBefore> primaryBefore_;
    std::unique_ptr<TakeWatch> watch_;

    // The latest wait, on the main thread: an earlier one's outcome is dropped.
    std::shared_ptr<std::uint64_t> latestWait_ = std::make_shared<std::uint64_t>(0);

    std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    int wakeFd_ = -1;
    std::thread thread_;
};

// The clipboard on $DISPLAY, or nullptr when no X server is reachable.
std::unique_ptr<X11Clipboard> makeX11Clipboard();

}  // namespace velmora::desktop
