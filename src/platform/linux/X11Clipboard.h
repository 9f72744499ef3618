#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/Clipboard.h"

class QSocketNotifier;

namespace velmora::desktop {

class X11Selections;
enum class XSelection;

// The clipboard (and the PRIMARY selection) through Velmora's own X connection to $DISPLAY, also
// when the toolkit runs on Wayland with XWayland beside it. Other programs are served from the
// Qt event loop (so the application object must exist first), modal dialogs included. Reads give
// up after a fraction of a second, so an owner that never answers costs no more than that.
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
    void clear() override;
    platform::ClipboardSnapshot snapshot() override;
    void restore(const platform::ClipboardSnapshot& snapshot) override;

    // The PRIMARY selection (the mouse selection terminals paste).
    std::optional<std::string> primaryText();
    void setPrimaryText(const std::string& text);

  private:
    void serve();
    std::optional<std::string> readText(XSelection selection);

    std::unique_ptr<X11Selections> selections_;
    std::unique_ptr<QSocketNotifier> notifier_;
    // What Velmora offers while it owns each selection; reads then answer from it.
    platform::ClipboardSnapshot heldClipboard_;
    std::string heldPrimary_;
};

// The clipboard on $DISPLAY, or nullptr when no X server is reachable.
std::unique_ptr<X11Clipboard> makeX11Clipboard();

}  // namespace velmora::desktop
