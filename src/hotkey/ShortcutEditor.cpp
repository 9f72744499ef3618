#include "hotkey/ShortcutEditor.h"

#include <utility>

#include "ui/hud/HUDManager.h"

namespace velmora {
namespace {

constexpr platform::Size kShortcutEditorContentSize{320, 200};

}  // namespace

ShortcutEditor::ShortcutEditor(platform::Windows& windows, platform::MainQueue& mainQueue,
                               HotkeyManager& hotkeyManager, Notices& notices)
    : windows_(windows), mainQueue_(mainQueue), hotkeyManager_(hotkeyManager), notices_(notices) {}

platform::Window* ShortcutEditor::shortcutEditorWindow() const {
    return session_ ? session_->window.get() : nullptr;
}

void ShortcutEditor::showShortcutEditor() {
    auto view = std::make_unique<ShortcutEditorView>(
        hotkeyManager_.shortcut(),
        [this](const platform::Shortcut& shortcut) {
            return hotkeyManager_.shortcutDisplayString(shortcut);
        },
        scope_.bind(
            [this](const platform::Shortcut& shortcut) { hotkeyManager_.updateHotkey(shortcut); }),
        scope_.bind([this] { closeWindow(); }), scope_.bind([this] {
            closeWindow();
            notices_.showAlert("Shortcut Updated", "Your new shortcut has been saved successfully.",
                               platform::AlertStyle::Informational);
        }));
    auto window = windows_.createShortcutEditorWindow(*view);
    window->setTitle("Edit Shortcut");
    window->setContentSize(kShortcutEditorContentSize);
    if (const auto visibleFrame = windows_.mainScreenVisibleFrame()) {
        window->setOrigin(centeredOrigin(*visibleFrame, window->frameSize()));
    }
    window->setFloating(true);
    window->show();
    // An editor opened again replaces the earlier window, which closes with it.
    session_ = std::make_unique<Session>(Session{std::move(view), std::move(window)});
}

void ShortcutEditor::closeWindow() {
    if (!session_) {
        return;
    }
    session_->window->close();
    closing_ = std::move(session_);
    mainQueue_.async(scope_.bind([this] { closing_.reset(); }));
}

}  // namespace velmora
