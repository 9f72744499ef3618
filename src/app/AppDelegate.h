#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/APIService.h"
#include "api/ServiceEndpoints.h"
#include "app/ClipboardBridge.h"
#include "app/RewriteWorkflow.h"
#include "auth/Account.h"
#include "auth/KeychainTokenStore.h"
#include "auth/SignIn.h"
#include "base/WeakScope.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/ShortcutEditor.h"
#include "platform/Platform.h"
#include "settings/AIProvider.h"
#include "settings/Preferences.h"
#include "settings/SettingsManager.h"
#include "ui/Dialogs.h"
#include "ui/MenuManager.h"
#include "ui/Notices.h"
#include "ui/StatusMenu.h"
#include "ui/hud/HUDManager.h"
#include "update/AutoUpdateService.h"
#include "update/UpdatePrompts.h"

namespace velmora {

// The composition root: owns the managers and the subsystems, wires them at launch and undoes it
// at termination. Its operations are short forwards to the subsystem that does the work. It is
// the one owner of everything launch makes; each subsystem guards what it queues with a scope of
// its own, so nothing queued keeps anything alive.
class AppDelegate : public AutoUpdateServiceDelegate,
                    public APIServiceDelegate,
                    public HotkeyManagerDelegate,
                    public MenuManagerDelegate {
  public:
    AppDelegate(const platform::Platform& platform, HUDManager& hud, ServiceEndpoints endpoints);
    ~AppDelegate() override;

    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // Rewrite workflow.
    void hotkeyTriggered() override { running().workflow.hotkeyTriggered(); }
    void processSelectedText() override { running().workflow.processSelectedText(); }

    // Settings.
    void selectModel(const std::string& name) override;
    void setWritingStyle(const std::string& key) override {
        running().preferences.setWritingStyle(key);
    }

    // Notices, menu and dialogs.
    void showAlert(const std::string& title, const std::string& message,
                   platform::AlertStyle style) override {
        notices_.showAlert(title, message, style);
    }
    void rebuildStatusMenu();
    void showShortcutEditor() override { running().shortcutEditor.showShortcutEditor(); }
    void showSettings() { running().statusMenu.showSettings(); }
    void signInAction() { running().signIn.signInAction(); }
    void handleGetURLWithEvent(const std::optional<std::string>& url) {
        running().signIn.handleGetURLWithEvent(url);
    }

    // Update outcomes.
    void updateAvailable(const std::string& version) override {
        running().updatePrompts.updateAvailable(version);
    }
    void noUpdateAvailable(const std::string& version) override {
        running().updatePrompts.noUpdateAvailable(version);
    }
    void updateCheckFailed(const UpdateCheckError& error) override {
        running().updatePrompts.updateCheckFailed(error);
    }

    // State, read-only from outside.
    bool isAuthenticated() const override { return running().account.isAuthenticated(); }
    const std::optional<std::string>& authToken() const override {
        return running().account.authToken();
    }
    const Account& account() const { return running().account; }
    const Preferences& preferences() const { return running().preferences; }
    const HotkeyManager& hotkeyManager() const { return running().hotkeyManager; }
    const ShortcutEditor& shortcutEditor() const { return running().shortcutEditor; }
    bool isProcessingText() const { return running().workflow.isProcessingText(); }
    MenuManager& menuManager() { return running().menuManager; }

  private:
    // What launch makes, in the order it makes it; members are built in declaration order and
    // torn down in reverse, so each may use those above it.
    struct Running {
        explicit Running(AppDelegate& app);

        SettingsManager settingsManager;
        MenuManager menuManager;
        HotkeyManager hotkeyManager;
        APIService apiService;
        AutoUpdateService autoUpdateService;
        Preferences preferences;
        Account account;
        StatusMenu statusMenu;
        Dialogs dialogs;
        SignIn signIn;
        ClipboardBridge bridge;
        RewriteWorkflow workflow;
        ShortcutEditor shortcutEditor;
        UpdatePrompts updatePrompts;
    };

    Running& running() { return *running_; }
    const Running& running() const { return *running_; }
    void loadSettings();
    void perform(MenuCommand command);

    const platform::Platform& platform_;
    HUDManager& hud_;
    const ServiceEndpoints endpoints_;
    const std::vector<AIProvider> providers_;
    const std::string defaultModel_;
    Notices notices_;
    KeychainTokenStore tokenStore_;
    std::optional<Running> running_;
    WeakScope scope_;
};

// The entry type: makes the one application delegate and hands it the launch and termination.
class MendwellApp {
  public:
    MendwellApp(const platform::Platform& platform, HUDManager& hud, ServiceEndpoints endpoints)
        : appDelegate(std::make_unique<AppDelegate>(platform, hud, std::move(endpoints))) {}

    void didFinishLaunching() { appDelegate->applicationDidFinishLaunching(); }
    void willTerminate() { appDelegate->applicationWillTerminate(); }

    const std::unique_ptr<AppDelegate> appDelegate;
};

}  // namespace velmora
