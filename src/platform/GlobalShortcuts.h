#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Keys.h"

namespace velmora::platform {

enum class BindStatus {
    Bound,
    Taken,        // another program holds the combination
    Unavailable,  // this session offers no way to bind it
    // This session binds no shortcut, but the user has bound a key in the desktop's own settings
    // to the command that does the same; `message` says so, for the log.
    BoundByDesktop,
};

struct BindResult {
    BindStatus status = BindStatus::Bound;
    // Why it failed, in plain words, saying what to do (empty when bound).
    std::string message;
    // The trigger as the system reports it, when the system chose or renamed it ("Ctrl+Shift+P").
    std::optional<std::string> systemDescription;
};

// A bound shortcut; destroying it unbinds the shortcut.
class ShortcutBinding {
  public:
    virtual ~ShortcutBinding() = default;
};

// System-wide shortcuts.
class GlobalShortcuts {
  public:
    using Pressed = std::function<void()>;
    using Outcome = std::function<void(const BindResult&)>;

    virtual ~GlobalShortcuts() = default;
    // Binds `shortcut`. `outcome` runs once on the main thread, possibly before `bind` returns.
    // `pressed` runs on the main thread, during event dispatch, once per press: holding the keys
    // does not repeat it. The binding lives as long as the returned object.
    virtual std::unique_ptr<ShortcutBinding> bind(const Shortcut& shortcut, Pressed pressed,
                                                  Outcome outcome) = 0;
};

}  // namespace velmora::platform
