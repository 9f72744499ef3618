#pragma once

#include "platform/GlobalShortcuts.h"
#include "platform/linux/portal/CommandShortcut.h"

namespace velmora::desktop {

// System-wide shortcuts through the desktop portal's GlobalShortcuts interface, for Wayland
// sessions. Each binding is a portal session holding the one "rewrite" shortcut; the outcome
// arrives later on the main thread, once the portal has answered. A key the user binds to
// `velmora --trigger` works too, with or without the portal. Must outlive its bindings.
class PortalGlobalShortcuts : public platform::GlobalShortcuts {
  public:
    // `program` as for CommandShortcut.
    explicit PortalGlobalShortcuts(std::string program = {});
    ~PortalGlobalShortcuts() override;

    std::unique_ptr<platform::ShortcutBinding> bind(const platform::Shortcut& shortcut,
                                                    Pressed pressed, Outcome outcome) override;

    // Runs the newest live binding's `pressed`: what `velmora --trigger` does.
    void pressFromCommand() { command_.pressFromCommand(); }

  private:
    class Binding;

    CommandShortcut command_;
    // KWin 5.27 was seen to deliver no presses to the very first session of a program it had not
    // seen before; one fresh session after the first successful bind is enough for the run.
    bool sessionRenewed_ = false;
};

}  // namespace velmora::desktop
