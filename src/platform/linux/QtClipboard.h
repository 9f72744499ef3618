#pragma once

#include "platform/Clipboard.h"

class QClipboard;

namespace velmora::desktop {

// The CLIPBOARD selection through Qt. Qt answers other programs' requests from the event loop, so
// owning the clipboard costs nothing as long as the main thread keeps turning.
class QtClipboard : public platform::Clipboard {
  public:
    explicit QtClipboard(bool sessionIsX11) : sessionIsX11_(sessionIsX11) {}

    platform::Capability availability() override;
    std::optional<std::string> text() override;
    void setText(const std::string& text) override;
    void clear() override;
    platform::ClipboardSnapshot snapshot() override;
    void restore(const platform::ClipboardSnapshot& snapshot) override;

  private:
    static QClipboard* clipboard();

    bool sessionIsX11_;
};

}  // namespace velmora::desktop
