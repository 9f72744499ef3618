#include "hotkey/ShortcutEditorView.h"

#include <utility>

namespace velmora {

ShortcutEditorView::ShortcutEditorView(
    platform::Shortcut current, DisplayString displayString,
    std::function<void(const platform::Shortcut&)> onShortcutChanged,
    std::function<void()> onCancel, std::function<void()> onSave)
    : captured_(current),
      displayString_(std::move(displayString)),
      onShortcutChanged_(std::move(onShortcutChanged)),
      onCancel_(std::move(onCancel)),
      onSave_(std::move(onSave)) {
    currentShortcutDisplay_ = displayString_(captured_);
}

void ShortcutEditorView::startRecording() {
    isRecording_ = true;
    if (onChange_) {
        onChange_();
    }
}

void ShortcutEditorView::stopRecording() {
    isRecording_ = false;
    if (onChange_) {
        onChange_();
    }
}

bool ShortcutEditorView::handleKeyPress(const platform::KeyPress& press) {
    if (!isRecording_) {
        return false;
    }
    // While recording every key is consumed, so nothing reaches the focused control. A shortcut
    // needs a modifier, and a modifier key alone never ends the recording.
    if (press.key == platform::keys::Escape) {
        stopRecording();
    } else if (!press.modifiers.empty() && !press.key.isModifier()) {
        captured_ = {press.key, press.modifiers};
        currentShortcutDisplay_ = displayString_(captured_);
        stopRecording();
    }
    return true;
}

// The callbacks may close the window that shows this model, so they run from local copies.
void ShortcutEditorView::save() {
    // Save is disabled while recording: a half-recorded combination is never handed over.
    if (isRecording_) {
        return;
    }
    const auto onShortcutChanged = onShortcutChanged_;
    const auto onSave = onSave_;
    const platform::Shortcut shortcut = captured_;
    onShortcutChanged(shortcut);
    onSave();
}

void ShortcutEditorView::cancel() {
    const auto onCancel = onCancel_;
    onCancel();
}

void ShortcutEditorView::setOnChange(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
}

}  // namespace velmora
