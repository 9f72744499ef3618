// Placeholder until the hot key lands.
#include "hotkey/HotkeyManager.h"

namespace velmora {

HotkeyManager::HotkeyManager(platform::HotKeys& hotKeys, platform::KeyboardLayout& layout,
                             platform::Defaults& defaults, platform::MainQueue& mainQueue,
                             std::weak_ptr<HotkeyManagerDelegate> delegate)
    : delegate(std::move(delegate)),
      hotKeys_(hotKeys),
      layout_(layout),
      defaults_(defaults),
      mainQueue_(mainQueue) {}

HotkeyManager::~HotkeyManager() = default;

void HotkeyManager::registerHotkey() {}
void HotkeyManager::unregisterHotkey() {}
void HotkeyManager::updateHotkey(std::uint16_t, std::uint32_t) {}
std::string HotkeyManager::shortcutDisplayString() const {
    return {};
}
std::string HotkeyManager::shortcutDisplayString(std::uint16_t, std::uint32_t) const {
    return {};
}
std::optional<std::string> HotkeyManager::keyNameForKeyCode(std::uint16_t) const {
    return {};
}
platform::HotKeyID HotkeyManager::hotKeyID() {
    return {0x4D4E4457, 1};
}
platform::HotKeyStatus HotkeyManager::handleHotKeyEvent(void*) {
    return platform::noErr;
}
void HotkeyManager::hotkeyPressed() {}

}  // namespace velmora
