#pragma once

#include <functional>
#include <string>

#include "platform/Windows.h"

namespace velmora {

// The shortcut recorder's state and behaviour, free of any toolkit: the window draws it and hands
// it the keys it sees before any control.
class ShortcutEditorView : public platform::ShortcutEditorModel {
  public:
    using DisplayString = std::function<std::string(const platform::Shortcut&)>;

    ShortcutEditorView(platform::Shortcut current, DisplayString displayString,
                       std::function<void(const platform::Shortcut&)> onShortcutChanged,
                       std::function<void()> onCancel, std::function<void()> onSave);

    bool isRecording() const override { return isRecording_; }
    std::string currentShortcutDisplay() const override { return currentShortcutDisplay_; }
    const platform::Shortcut& captured() const { return captured_; }

    void startRecording() override;
    bool handleKeyPress(const platform::KeyPress& press) override;
    void cancel() override;
    void save() override;
    void setOnChange(std::function<void()> onChange) override;

  private:
    void stopRecording();

    bool isRecording_ = false;
    platform::Shortcut captured_;
    std::string currentShortcutDisplay_;
    DisplayString displayString_;
    std::function<void(const platform::Shortcut&)> onShortcutChanged_;
    std::function<void()> onCancel_;
    std::function<void()> onSave_;
    std::function<void()> onChange_;
};

}  // namespace velmora
