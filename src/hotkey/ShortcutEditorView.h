#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Windows.h"

namespace velmora {

// The shortcut recorder's state and behaviour, independent of any toolkit. The window renders it
// and feeds it the key events its local monitor sees.
class ShortcutEditorView : public platform::ShortcutEditorModel {
  public:
    using DisplayString = std::function<std::string(std::uint16_t, std::uint32_t)>;

    ShortcutEditorView(std::uint16_t keyCode, std::uint32_t modifiers, DisplayString displayString,
                       std::function<void(std::uint16_t, std::uint32_t)> onShortcutChanged,
                       std::function<void()> onCancel, std::function<void()> onSave);

    bool isRecording() const override { return isRecording_; }
    std::string currentShortcutDisplay() const override { return currentShortcutDisplay_; }
    std::uint16_t capturedKeyCode() const { return capturedKeyCode_; }
    std::uint32_t capturedModifiers() const { return capturedModifiers_; }

    void startRecording() override;
    bool handleKeyboardEvent(const platform::KeyboardEventInfo& event) override;
    void cancel() override;
    void save() override;
    void setOnChange(std::function<void()> onChange) override;

    // Event modifier flags to the Carbon mask; Caps Lock, Function and the rest are dropped.
    static std::uint32_t carbonModifiers(std::uint64_t eventFlags);

  private:
    void changed();

    bool isRecording_ = false;
    std::uint16_t capturedKeyCode_;
    std::uint32_t capturedModifiers_;
    std::string currentShortcutDisplay_;
    DisplayString displayString_;
    std::function<void(std::uint16_t, std::uint32_t)> onShortcutChanged_;
    std::function<void()> onCancel_;
    std::function<void()> onSave_;
    std::function<void()> onChange_;
};

}  // namespace velmora
