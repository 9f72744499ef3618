#include "app/AppDelegate.h"
#include "hotkey/ShortcutEditorView.h"
#include "ui/hud/HUDManager.h"

namespace velmora {

namespace {

constexpr platform::Size kShortcutEditorContentSize{320, 200};

}  // namespace

void AppDelegate::showShortcutEditor() {
    std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    std::weak_ptr<HotkeyManager> weakManager = hotkeyManager_;

    auto displayString = [weakManager](std::uint16_t keyCode, std::uint32_t modifiers) {
        auto manager = weakManager.lock();
        return manager ? manager->shortcutDisplayString(keyCode, modifiers) : std::string();
    };
    auto onShortcutChanged = [weakSelf](std::uint16_t keyCode, std::uint32_t modifiers) {
        if (auto self = weakSelf.lock()) {
            self->hotkeyManager_->updateHotkey(keyCode, modifiers);
        }
    };
    // The callbacks act on whichever window the field holds when they run; the local keeps it
    // alive while it closes.
    auto onCancel = [weakSelf] {
        if (auto self = weakSelf.lock()) {
            const auto window = self->shortcutEditorWindow_;
            if (window) {
                window->close();
            }
            self->shortcutEditorWindow_.reset();
        }
    };
    auto onSave = [weakSelf] {
        if (auto self = weakSelf.lock()) {
            const auto window = self->shortcutEditorWindow_;
            if (window) {
                window->close();
            }
            self->shortcutEditorWindow_.reset();
            self->showAlert("Shortcut Updated", "Your new shortcut has been saved successfully.",
                            platform::AlertStyle::Informational);
        }
    };

    auto model = std::make_shared<ShortcutEditorView>(
        hotkeyManager_->hotKeyCode(), hotkeyManager_->hotKeyModifiers(), std::move(displayString),
        std::move(onShortcutChanged), std::move(onCancel), std::move(onSave));

    platform::WindowStyle style;
    style.titled = true;
    style.closable = true;
    style.miniaturizable = false;
    style.resizable = false;
    auto window = platform_.windows.createShortcutEditorWindow(model, style);
    if (!window) {
        return;
    }
    window->setTitle("Edit Shortcut");
    window->setContentSize(kShortcutEditorContentSize);
    if (const auto visibleFrame = platform_.screens.mainScreenVisibleFrame()) {
        window->setFrameOrigin(centeredOrigin(*visibleFrame, window->frame().size));
    }
    window->setLevel(platform::modalPanelWindowLevel);
    window->makeKeyAndOrderFront();
    // An earlier editor window is replaced here, not closed.
    shortcutEditorWindow_ = std::move(window);
}

}  // namespace velmora
