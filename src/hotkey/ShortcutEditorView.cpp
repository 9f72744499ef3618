// Placeholder until the shortcut recorder lands.
#include "hotkey/ShortcutEditorView.h"

namespace velmora {

ShortcutEditorView::ShortcutEditorView(
    std::uint16_t keyCode, std::uint32_t modifiers, DisplayString displayString,
    std::function<void(std::uint16_t, std::uint32_t)> onShortcutChanged,
    std::function<void()> onCancel, std::function<void()> onSave)
    : capturedKeyCode_(keyCode),
      capturedModifiers_(modifiers),
      displayString_(std::move(displayString)),
      onShortcutChanged_(std::move(onShortcutChanged)),
      onCancel_(std::move(onCancel)),
      onSave_(std::move(onSave)) {}

void ShortcutEditorView::startRecording() {}
bool ShortcutEditorView::handleKeyboardEvent(const platform::KeyboardEventInfo&) {
    return false;
}
void ShortcutEditorView::cancel() {}
void ShortcutEditorView::save() {}
void ShortcutEditorView::setOnChange(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
}
std::uint32_t ShortcutEditorView::carbonModifiers(std::uint64_t) {
    return 0;
}
void ShortcutEditorView::changed() {}

}  // namespace velmora
