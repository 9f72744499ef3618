#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/WeakScope.h"
#include "platform/Alerts.h"
#include "platform/Defaults.h"
#include "platform/GlobalShortcuts.h"
#include "platform/Keys.h"
#include "platform/MainQueue.h"

namespace velmora {

class HotkeyManagerDelegate {
  public:
    virtual ~HotkeyManagerDelegate() = default;
    virtual void hotkeyTriggered() = 0;
    virtual void showAlert(const std::string& title, const std::string& message,
                           platform::AlertStyle style) = 0;
};

// Owns the one system-wide shortcut: stored in the settings, bound through the platform, reported
// to the delegate when pressed.
class HotkeyManager {
  public:
    HotkeyManager(platform::GlobalShortcuts& shortcuts, platform::KeyNames& keyNames,
                  platform::Defaults& defaults, platform::MainQueue& mainQueue,
                  HotkeyManagerDelegate& delegate);

    void registerHotkey();
    void unregisterHotkey();
    // Persists the shortcut before binding it, so one that fails now is tried again next launch.
    void updateHotkey(const platform::Shortcut& shortcut);

    const platform::Shortcut& shortcut() const { return shortcut_; }
    std::string shortcutDisplayString() const;
    std::string shortcutDisplayString(const platform::Shortcut& shortcut) const;
    std::optional<std::string> keyNameForKey(platform::Key key) const;

  private:
    void registrationFinished(std::uint64_t attempt, const platform::BindResult& result);
    void hotkeyPressed();

    platform::GlobalShortcuts& shortcuts_;
    platform::KeyNames& keyNames_;
    platform::Defaults& defaults_;
    platform::MainQueue& mainQueue_;
    HotkeyManagerDelegate& delegate_;
    platform::Shortcut shortcut_;
    std::unique_ptr<platform::ShortcutBinding> hotKeyRef_;
    // Each registration has a number, so an outcome that arrives after the next one started is
    // ignored.
    std::uint64_t attempt_ = 0;
    std::optional<std::string> systemDescription_;
    WeakScope scope_;
};

}  // namespace velmora
