#include "hotkey/HotkeyManager.h"

#include <limits>

#include "app/UnicodeText.h"
#include "platform/Log.h"

namespace velmora {

namespace {

constexpr const char* kHotkeyCodeKey = "HotkeyCode";
constexpr const char* kHotkeyModifiersKey = "HotkeyModifiers";

struct StoredShortcut {
    std::uint16_t keyCode;
    std::uint32_t modifiers;
};

// Only the pair 0/0 means "nothing stored" (0 alone is the A key). A value that cannot be a key
// code or a mask was written by something else, so the whole pair is ignored rather than
// truncated into an unintended shortcut.
StoredShortcut readStoredShortcut(platform::Defaults& defaults) {
    const std::int64_t code = defaults.integerForKey(kHotkeyCodeKey);
    const std::int64_t modifiers = defaults.integerForKey(kHotkeyModifiersKey);
    const bool codeFits = code >= 0 && code <= std::numeric_limits<std::uint16_t>::max();
    const bool modifiersFit =
        modifiers >= 0 && modifiers <= std::int64_t{std::numeric_limits<std::uint32_t>::max()};
    if (!codeFits || !modifiersFit || (code == 0 && modifiers == 0)) {
        return {kDefaultHotKeyCode, kDefaultHotKeyModifiers};
    }
    return {static_cast<std::uint16_t>(code), static_cast<std::uint32_t>(modifiers)};
}

}  // namespace

HotkeyManager::HotkeyManager(platform::HotKeys& hotKeys, platform::KeyboardLayout& layout,
                             platform::Defaults& defaults, platform::MainQueue& mainQueue,
                             std::weak_ptr<HotkeyManagerDelegate> delegate)
    : delegate(std::move(delegate)),
      hotKeys_(hotKeys),
      layout_(layout),
      defaults_(defaults),
      mainQueue_(mainQueue) {
    const StoredShortcut stored = readStoredShortcut(defaults_);
    hotKeyCode_ = stored.keyCode;
    hotKeyModifiers_ = stored.modifiers;
}

// The installed handler carries `this` as user data; it must not outlive the manager.
HotkeyManager::~HotkeyManager() {
    unregisterHotkey();
}

platform::HotKeyID HotkeyManager::hotKeyID() {
    constexpr std::uint32_t signature = (std::uint32_t{'M'} << 24) | (std::uint32_t{'N'} << 16) |
                                        (std::uint32_t{'D'} << 8) | std::uint32_t{'W'};
    return {signature, 1};
}

void HotkeyManager::registerHotkey() {
    platform::PlatformHandle handler = 0;
    const platform::HotKeyStatus installStatus =
        hotKeys_.installEventHandler(&HotkeyManager::handleHotKeyEvent, this, handler);
    if (installStatus != platform::noErr) {
        logLine("Failed to install event handler: " + std::to_string(installStatus));
        return;
    }
    eventHandler_ = handler;

    platform::PlatformHandle hotKey = 0;
    const platform::HotKeyStatus registerStatus =
        hotKeys_.registerHotKey(hotKeyCode_, hotKeyModifiers_, hotKeyID(), hotKey);
    if (registerStatus != platform::noErr) {
        logLine("Failed to register hotkey: " + std::to_string(registerStatus));
        // The handler stays installed; updateHotkey removes it before trying again.
        if (auto target = delegate.lock()) {
            target->showAlert("Hotkey Error",
                              "Could not register global hotkey (" + shortcutDisplayString() +
                                  "). Another app might be using it.",
                              platform::AlertStyle::Critical);
        }
        return;
    }
    hotKeyRef_ = hotKey;
    logLine("Carbon hotkey registered successfully (" + shortcutDisplayString() + ").");
}

void HotkeyManager::unregisterHotkey() {
    if (hotKeyRef_) {
        hotKeys_.unregisterHotKey(*hotKeyRef_);
        hotKeyRef_.reset();
    }
    if (eventHandler_) {
        hotKeys_.removeEventHandler(*eventHandler_);
        eventHandler_.reset();
    }
}

void HotkeyManager::updateHotkey(std::uint16_t keyCode, std::uint32_t modifiers) {
    unregisterHotkey();
    hotKeyCode_ = keyCode;
    hotKeyModifiers_ = modifiers;
    // Persisted before registering, so a combination that fails now is still tried next launch.
    defaults_.setInteger(kHotkeyCodeKey, hotKeyCode_);
    defaults_.setInteger(kHotkeyModifiersKey, hotKeyModifiers_);
    registerHotkey();
}

std::string HotkeyManager::shortcutDisplayString() const {
    return shortcutDisplayString(hotKeyCode_, hotKeyModifiers_);
}

std::string HotkeyManager::shortcutDisplayString(std::uint16_t keyCode,
                                                 std::uint32_t modifiers) const {
    // Command first, then Shift, Option, Control; other mask bits have no glyph.
    static constexpr std::pair<std::uint32_t, platform::Modifier> order[] = {
        {platform::cmdKey, platform::Modifier::Command},
        {platform::shiftKey, platform::Modifier::Shift},
        {platform::optionKey, platform::Modifier::Option},
        {platform::controlKey, platform::Modifier::Control},
    };
    std::string text;
    for (const auto& [bit, modifier] : order) {
        if (modifiers & bit) {
            text += layout_.modifierGlyph(modifier);
        }
    }
    if (auto name = keyNameForKeyCode(keyCode)) {
        text += *name;
    } else {
        text += "?(" + std::to_string(keyCode) + ")";
    }
    return text;
}

std::optional<std::string> HotkeyManager::keyNameForKeyCode(std::uint16_t keyCode) const {
    const std::optional<std::string> characters = layout_.unshiftedCharacters(keyCode);
    if (!characters || characters->empty()) {
        return std::nullopt;
    }
    return uppercased(*characters);
}

platform::HotKeyStatus HotkeyManager::handleHotKeyEvent(void* userData) {
    if (userData == nullptr) {
        return platform::eventNotHandledErr;
    }
    static_cast<HotkeyManager*>(userData)->hotkeyPressed();
    return platform::noErr;
}

// Runs inside event dispatch: the delegate's work happens on a later turn of the main queue.
void HotkeyManager::hotkeyPressed() {
    logLine("HotkeyManager: Carbon hotkey triggered!");
    mainQueue_.async([weakSelf = weak_from_this()] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (auto target = self->delegate.lock()) {
            target->hotkeyTriggered();
        }
    });
}

}  // namespace velmora
