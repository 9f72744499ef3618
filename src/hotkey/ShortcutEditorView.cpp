#include "hotkey/ShortcutEditorView.h"

#include "platform/HotKeys.h"

namespace velmora {

namespace {

constexpr std::uint16_t kEscapeKeyCode = 53;
// Right Command through right Control: modifier keys are never the key of a shortcut.
constexpr std::uint16_t kFirstModifierKeyCode = 54;
constexpr std::uint16_t kLastModifierKeyCode = 62;

}  // namespace

ShortcutEditorView::ShortcutEditorView(
    std::uint16_t keyCode, std::uint32_t modifiers, DisplayString displayString,
    std::function<void(std::uint16_t, std::uint32_t)> onShortcutChanged,
    std::function<void()> onCancel, std::function<void()> onSave)
    : capturedKeyCode_(keyCode),
      capturedModifiers_(modifiers),
      displayString_(std::move(displayString)),
      onShortcutChanged_(std::move(onShortcutChanged)),
      onCancel_(std::move(onCancel)),
      onSave_(std::move(onSave)) {
    currentShortcutDisplay_ = displayString_ ? displayString_(keyCode, modifiers) : std::string();
}

std::uint32_t ShortcutEditorView::carbonModifiers(std::uint64_t eventFlags) {
    std::uint32_t mask = 0;
    if (eventFlags & platform::eventModifierFlagCommand) {
        mask |= platform::cmdKey;
    }
    if (eventFlags & platform::eventModifierFlagShift) {
        mask |= platform::shiftKey;
    }
    if (eventFlags & platform::eventModifierFlagOption) {
        mask |= platform::optionKey;
    }
    if (eventFlags & platform::eventModifierFlagControl) {
        mask |= platform::controlKey;
    }
    return mask;
}

void ShortcutEditorView::startRecording() {
    isRecording_ = true;
    changed();
}

bool ShortcutEditorView::handleKeyboardEvent(const platform::KeyboardEventInfo& event) {
    if (!isRecording_) {
        return false;
    }
    // While recording every key event is consumed, so nothing reaches the focused control.
    if (event.keyCode == kEscapeKeyCode) {
        isRecording_ = false;
        changed();
        return true;
    }
    const std::uint32_t mask = carbonModifiers(event.modifierFlags);
    if (mask == 0) {
        return true;
    }
    if (event.keyCode >= kFirstModifierKeyCode && event.keyCode <= kLastModifierKeyCode) {
        return true;
    }
    capturedKeyCode_ = event.keyCode;
    capturedModifiers_ = mask;
    currentShortcutDisplay_ =
        displayString_ ? displayString_(capturedKeyCode_, capturedModifiers_) : std::string();
    isRecording_ = false;
    changed();
    return true;
}

// The callbacks may close the window that owns this model, so they run from local copies.
void ShortcutEditorView::save() {
    // Save is disabled while recording: a half-recorded combination is never handed over.
    if (isRecording_) {
        return;
    }
    const auto onShortcutChanged = onShortcutChanged_;
    const auto onSave = onSave_;
    const std::uint16_t keyCode = capturedKeyCode_;
    const std::uint32_t modifiers = capturedModifiers_;
    if (onShortcutChanged) {
        onShortcutChanged(keyCode, modifiers);
    }
    if (onSave) {
        onSave();
    }
}

void ShortcutEditorView::cancel() {
    const auto onCancel = onCancel_;
    if (onCancel) {
        onCancel();
    }
}

void ShortcutEditorView::setOnChange(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
}

void ShortcutEditorView::changed() {
    if (onChange_) {
        onChange_();
    }
}

}  // namespace velmora
