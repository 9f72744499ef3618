#pragma once

#include <memory>

#include "base/WeakScope.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/ShortcutEditorView.h"
#include "platform/MainQueue.h"
#include "platform/Windows.h"
#include "ui/Notices.h"

namespace velmora {

// The "Edit Shortcut" window: records a new shortcut and hands it to the hotkey manager on Save.
class ShortcutEditor {
  public:
    ShortcutEditor(platform::Windows& windows, platform::MainQueue& mainQueue,
                   HotkeyManager& hotkeyManager, Notices& notices);

    void showShortcutEditor();
    // The open editor window, or none.
    platform::Window* shortcutEditorWindow() const;

  private:
    struct Session {
        std::unique_ptr<ShortcutEditorView> view;
        std::unique_ptr<platform::Window> window;
    };

    void closeWindow();

    platform::Windows& windows_;
    platform::MainQueue& mainQueue_;
    HotkeyManager& hotkeyManager_;
    Notices& notices_;
    std::unique_ptr<Session> session_;
    // A closed session lives on until the queue's next turn: its own button handler closed it.
    std::unique_ptr<Session> closing_;
    WeakScope scope_;
};

}  // namespace velmora
