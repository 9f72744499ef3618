#pragma once

#include <string>

#include "platform/GlobalShortcuts.h"

namespace velmora::desktop {

// System-wide shortcuts through the desktop portal's GlobalShortcuts interface, for Wayland
// sessions. Each binding is a portal session holding the one "rewrite" shortcut; the outcome
// arrives later on the main thread, once the portal has answered. Where no portal binds one, the
// outcome says how to bind a key to `velmora --trigger` instead. A press is passed on when the user
// lets go of the shortcut (or after a few seconds, while it is still held), so that the rewrite's
// copy does not meet the user's keys. Must outlive its bindings.
class PortalGlobalShortcuts : public platform::GlobalShortcuts {
  public:
    // `program` is the path the user's own shortcut must run; by default this program's own.
    explicit PortalGlobalShortcuts(std::string program = {});
    ~PortalGlobalShortcuts() override;

    std::unique_ptr<platform::ShortcutBinding> bind(const platform::Shortcut& shortcut,
                                                    Pressed pressed, Outcome outcome) override;

  private:
    class Binding;

    const std::string advice_;
    // KWin 5.27 was seen to deliver no presses to the very first session of a program it had not
    // seen before; one fresh session after the first successful bind is enough for the run.
    bool sessionRenewed_ = false;
};

}  // namespace velmora::desktop
