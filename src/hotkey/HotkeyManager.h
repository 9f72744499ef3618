#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Alerts.h"
#include "platform/Defaults.h"
#include "platform/HotKeys.h"
#include "platform/MainQueue.h"

namespace velmora {

class HotkeyManagerDelegate {
  public:
    virtual ~HotkeyManagerDelegate() = default;
    virtual void hotkeyTriggered() = 0;
    virtual void showAlert(const std::string& title, const std::string& message,
                           platform::AlertStyle style) = 0;
};

inline constexpr std::uint16_t kDefaultHotKeyCode = 35;
inline constexpr std::uint32_t kDefaultHotKeyModifiers = 0x0300;

// Owns the one system-wide shortcut: stored in the defaults, registered with the platform,
// reported to the delegate when pressed.
class HotkeyManager : public std::enable_shared_from_this<HotkeyManager> {
  public:
    HotkeyManager(platform::HotKeys& hotKeys, platform::KeyboardLayout& layout,
                  platform::Defaults& defaults, platform::MainQueue& mainQueue,
                  std::weak_ptr<HotkeyManagerDelegate> delegate);
    ~HotkeyManager();

    std::weak_ptr<HotkeyManagerDelegate> delegate;

    void registerHotkey();
    void unregisterHotkey();
    void updateHotkey(std::uint16_t keyCode, std::uint32_t modifiers);

    std::string shortcutDisplayString() const;
    std::string shortcutDisplayString(std::uint16_t keyCode, std::uint32_t modifiers) const;
    std::optional<std::string> keyNameForKeyCode(std::uint16_t keyCode) const;

    std::uint16_t hotKeyCode() const { return hotKeyCode_; }
    std::uint32_t hotKeyModifiers() const { return hotKeyModifiers_; }
    bool hasHotKeyRef() const { return hotKeyRef_.has_value(); }
    bool hasEventHandler() const { return eventHandler_.has_value(); }

    static platform::HotKeyID hotKeyID();

  private:
    static platform::HotKeyStatus handleHotKeyEvent(void* userData);
    void hotkeyPressed();

    platform::HotKeys& hotKeys_;
    platform::KeyboardLayout& layout_;
    platform::Defaults& defaults_;
    platform::MainQueue& mainQueue_;
    std::optional<platform::PlatformHandle> hotKeyRef_;
    std::optional<platform::PlatformHandle> eventHandler_;
    std::uint16_t hotKeyCode_ = kDefaultHotKeyCode;
    std::uint32_t hotKeyModifiers_ = kDefaultHotKeyModifiers;
};

}  // namespace velmora
