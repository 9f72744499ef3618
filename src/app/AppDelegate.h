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
// at termination. Its operations are short forwards to the subsystem that does the work. Queued
// work holds it weakly (or, where a rewrite must finish its paste, strongly), which is why it is
// owned through a shared pointer.
class AppDelegate : public std::enable_shared_from_this<AppDelegate>,
                    public AutoUpdateServiceDelegate,
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
    void hotkeyTriggered() override { workflow_->hotkeyTriggered(); }
    void processSelectedText() override { workflow_->processSelectedText(); }

    // Settings.
    void selectModel(const std::string& name) override;
    void setWritingStyle(const std::string& key) override { preferences_->setWritingStyle(key); }

    // Notices, menu and dialogs.
    void showAlert(const std::string& title, const std::string& message,
                   platform::AlertStyle style) override {
        notices_.showAlert(title, message, style);
    }
    void rebuildStatusMenu();
    void showShortcutEditor() override { shortcutEditor_->showShortcutEditor(); }
    void showSettings() { statusMenu_->showSettings(); }
    void signInAction() { signIn_->signInAction(); }
    void handleGetURLWithEvent(const std::optional<std::string>& url) {
        signIn_->handleGetURLWithEvent(url);
    }

    // Update outcomes.
    void updateAvailable(const std::string& version) override {
        updatePrompts_->updateAvailable(version);
    }
    void noUpdateAvailable(const std::string& version) override {
        updatePrompts_->noUpdateAvailable(version);
    }
    void updateCheckFailed(const UpdateCheckError& error) override {
        updatePrompts_->updateCheckFailed(error);
    }

    // State, read-only from outside.
    bool isAuthenticated() const override { return account_.isAuthenticated; }
    const std::optional<std::string>& authToken() const override { return account_.authToken; }
    Account& account() { return account_; }
    const Preferences& preferences() const { return *preferences_; }
    const HotkeyManager& hotkeyManager() const { return *hotkeyManager_; }
    const ShortcutEditor& shortcutEditor() const { return *shortcutEditor_; }
    bool isProcessingText() const { return workflow_->isProcessingText(); }
    MenuManager& menuManager() { return *menuManager_; }

  private:
    void createServices();
    void loadSettings();
    void perform(MenuCommand command);

    const platform::Platform& platform_;
    HUDManager& hud_;
    const ServiceEndpoints endpoints_;
    const std::vector<AIProvider> providers_;
    const std::string defaultModel_;
    Notices notices_;
    KeychainTokenStore tokenStore_;
    Account account_;

    // Made at launch, in this order, and kept until the process ends.
    std::unique_ptr<SettingsManager> settingsManager_;
    std::unique_ptr<MenuManager> menuManager_;
    std::unique_ptr<HotkeyManager> hotkeyManager_;
    std::unique_ptr<APIService> apiService_;
    std::unique_ptr<AutoUpdateService> autoUpdateService_;
    std::unique_ptr<Preferences> preferences_;
    std::unique_ptr<StatusMenu> statusMenu_;
    std::unique_ptr<Dialogs> dialogs_;
    std::unique_ptr<SignIn> signIn_;
    std::unique_ptr<ClipboardBridge> bridge_;
    std::unique_ptr<RewriteWorkflow> workflow_;
    std::unique_ptr<ShortcutEditor> shortcutEditor_;
    std::unique_ptr<UpdatePrompts> updatePrompts_;
};

// The entry type: makes the one application delegate and hands it the launch and termination.
class MendwellApp {
  public:
    MendwellApp(const platform::Platform& platform, HUDManager& hud, ServiceEndpoints endpoints)
        : appDelegate(std::make_shared<AppDelegate>(platform, hud, std::move(endpoints))) {}

    void didFinishLaunching() { appDelegate->applicationDidFinishLaunching(); }
    void willTerminate() { appDelegate->applicationWillTerminate(); }

    const std::shared_ptr<AppDelegate> appDelegate;
};

}  // namespace velmora
