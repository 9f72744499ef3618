#pragma once

#include <condition_variable>
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
// answers costs no more than that.
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
    void whenTextTaken(platform::PasteWait, TakeDone done) override {
        done(platform::PasteTake::Taken);
    }
    void clear() override;
    platform::ClipboardSnapshot snapshot() override;
    void restore(const platform::ClipboardSnapshot& snapshot) override;

    // The PRIMARY selection (the mouse selection terminals paste).
    std::optional<std::string> primaryText();
    void setPrimaryText(const std::string& text);

  private:
    // Runs `job` on the connection's thread and returns once it is done.
    void onConnectionThread(const std::function<void()>& job);
    void serve();
    std::optional<std::string> readText(XSelection selection);
    platform::ClipboardSnapshot takeSnapshot();
    // What is offered under each format; the bytes are shared with the offers.
    using Formats = std::vector<std::pair<std::string, std::shared_ptr<const std::string>>>;
    void own(Formats held);
    void ownPrimary(const std::string& text);

    std::unique_ptr<X11Selections> selections_;
    // What Velmora offers while it owns each selection; reads then answer from it. Touched on the
    // connection's thread only.
    Formats heldClipboard_;
    std::string heldPrimary_;

    std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    int wakeFd_ = -1;
    std::thread thread_;
};

// The clipboard on $DISPLAY, or nullptr when no X server is reachable.
std::unique_ptr<X11Clipboard> makeX11Clipboard();

}  // namespace velmora::desktop
