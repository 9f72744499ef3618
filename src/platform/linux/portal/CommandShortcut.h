#pragma once

#include <string>

#include "platform/GlobalShortcuts.h"

namespace velmora::desktop {

// The shortcut for sessions where Velmora cannot bind one itself: the user binds a key in the
// desktop's own keyboard settings to `velmora --trigger`, and that command reaches the running
// program, which calls pressFromCommand(). Must outlive its bindings.
class CommandShortcut : public platform::GlobalShortcuts {
  public:
    // `program` is the path the user's shortcut must run; by default this program's own.
    explicit CommandShortcut(std::string program = {});

    std::unique_ptr<platform::ShortcutBinding> bind(const platform::Shortcut& shortcut,
                                                    Pressed pressed, Outcome outcome) override;

    // Runs the newest live binding's `pressed`; nothing when there is none.
    void pressFromCommand();

    // What the user does to get the shortcut anyway, as a sentence.
    std::string advice() const;

  private:
    class Binding;

    std::string commandLine_;
    int nextId_ = 1;
    int currentId_ = 0;
    Pressed current_;
};

}  // namespace velmora::desktop
