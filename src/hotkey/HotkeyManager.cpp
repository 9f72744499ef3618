#include "hotkey/HotkeyManager.h"

#include <limits>

#include "base/Log.h"
#include "base/UnicodeText.h"
#include "hotkey/StoredShortcut.h"

namespace velmora {
namespace {

constexpr const char* kHotkeyCodeKey = "HotkeyCode";
constexpr const char* kHotkeyModifiersKey = "HotkeyModifiers";

// The log line of a failed registration carries the first release's status numbers for a taken
// combination and for one that cannot be registered at all; they are produced here alone.
int statusNumber(platform::BindStatus status) {
    return status == platform::BindStatus::Taken ? -9878 : -9879;
}

// Only the pair 0/0 means "nothing stored" (0 alone is the A key). A value that cannot be a key
// code or a mask was written by something else, so the whole pair is ignored rather than
// truncated into an unintended shortcut.
platform::Shortcut readStoredShortcut(platform::Defaults& defaults) {
    const std::int64_t code = defaults.integerForKey(kHotkeyCodeKey);
    const std::int64_t modifiers = defaults.integerForKey(kHotkeyModifiersKey);
    const bool codeFits = code >= 0 && code <= std::numeric_limits<std::uint16_t>::max();
    const bool modifiersFit =
        modifiers >= 0 && modifiers <= std::int64_t{std::numeric_limits<std::uint32_t>::max()};
    const platform::Shortcut fallback = *kDefaultStoredShortcut.shortcut();
    if (!codeFits || !modifiersFit || (code == 0 && modifiers == 0)) {
        return fallback;
    }
    const StoredShortcut stored{static_cast<std::uint16_t>(code),
                                static_cast<std::uint32_t>(modifiers)};
    return stored.shortcut().value_or(fallback);
}

}  // namespace

HotkeyManager::HotkeyManager(platform::GlobalShortcuts& shortcuts, platform::KeyNames& keyNames,
                             platform::Defaults& defaults, platform::MainQueue& mainQueue,
                             HotkeyManagerDelegate& delegate)
    : shortcuts_(shortcuts),
      keyNames_(keyNames),
      defaults_(defaults),
      mainQueue_(mainQueue),
      delegate_(delegate),
      shortcut_(readStoredShortcut(defaults)) {}

void HotkeyManager::registerHotkey() {
    const std::uint64_t attempt = ++attempt_;
    // A failed binding holds nothing; it is kept until the next registration replaces it.
    hotKeyRef_ = shortcuts_.bind(shortcut_, scope_.bind([this] { hotkeyPressed(); }),
                                 scope_.bind([this, attempt](const platform::BindResult& result) {
                                     registrationFinished(attempt, result);
                                 }));
}

void HotkeyManager::registrationFinished(std::uint64_t attempt,
                                         const platform::BindResult& result) {
    if (attempt != attempt_) {
        return;
    }
    if (result.status == platform::BindStatus::Bound) {
        systemDescription_ = result.systemDescription;
        logLine("Carbon hotkey registered successfully (" + shortcutDisplayString() + ").");
        return;
    }
    if (result.status == platform::BindStatus::BoundByDesktop) {
        logLine(result.message);
        return;
    }
    logLine("Failed to register hotkey: " + std::to_string(statusNumber(result.status)));
    const std::string message =
        result.status == platform::BindStatus::Taken || result.message.empty()
            ? "Could not register global hotkey (" + shortcutDisplayString() +
                  "). Another app might be using it."
            : result.message;
    delegate_.showAlert("Hotkey Error", message, platform::AlertStyle::Critical);
}

void HotkeyManager::unregisterHotkey() {
    ++attempt_;
    hotKeyRef_.reset();
}

void HotkeyManager::updateHotkey(const platform::Shortcut& shortcut) {
    unregisterHotkey();
    shortcut_ = shortcut;
    systemDescription_.reset();
    const StoredShortcut stored = StoredShortcut::from(shortcut);
    defaults_.setInteger(kHotkeyCodeKey, stored.keyCode);
    defaults_.setInteger(kHotkeyModifiersKey, stored.modifiers);
    registerHotkey();
}

std::string HotkeyManager::shortcutDisplayString() const {
    // A system that chose or renamed the trigger has the last word on what it is called.
    return systemDescription_.value_or(shortcutDisplayString(shortcut_));
}

std::string HotkeyManager::shortcutDisplayString(const platform::Shortcut& shortcut) const {
    using platform::Modifier;
    std::string text;
    for (const Modifier modifier :
         {Modifier::Control, Modifier::Shift, Modifier::Alt, Modifier::Super}) {
        if (shortcut.modifiers.has(modifier)) {
            text += keyNames_.modifierGlyph(modifier);
        }
    }
    if (const auto name = keyNameForKey(shortcut.key)) {
        return text + *name;
    }
    return text + "?(" + std::to_string(StoredShortcut::from(shortcut).keyCode) + ")";
}

std::optional<std::string> HotkeyManager::keyNameForKey(platform::Key key) const {
    const std::optional<std::string> characters = keyNames_.keyName(key);
    if (!characters || characters->empty()) {
        return std::nullopt;
    }
    return uppercased(*characters);
}

// Runs inside event dispatch: the delegate's work happens on a later turn of the main queue. A
// press while a Velmora notice or dialog holds the queue would otherwise wait and then act on
// whatever window has the focus once it closes, so it is dropped.
void HotkeyManager::hotkeyPressed() {
    logLine("HotkeyManager: Carbon hotkey triggered!");
    if (mainQueue_.isRunningBlock()) {
        logLine("HotkeyManager: ignored, a Velmora notice or dialog is open.");
        return;
    }
    mainQueue_.async(scope_.bind([this] { delegate_.hotkeyTriggered(); }));
}

}  // namespace velmora
