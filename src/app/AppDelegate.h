#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/APIService.h"
#include "api/ServiceEndpoints.h"
#include "auth/KeychainTokenStore.h"
#include "hotkey/HotkeyManager.h"
#include "platform/Clipboard.h"
#include "platform/Platform.h"
#include "settings/AIProvider.h"
#include "settings/SettingsManager.h"
#include "ui/MenuManager.h"
#include "ui/hud/HUDManager.h"
#include "update/AutoUpdateService.h"

namespace velmora {

// Holds the shared state and the managers; every operation runs on the main thread. Its
// operations are defined in the file of the subsystem they belong to.
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

    // Lifecycle (app/AppDelegate.cpp).
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void createServices();
    void resetStatusIcon();

    // Settings (app/AppDelegate.cpp, settings/).
    void loadSettings();
    void selectModel(const std::string& name) override;
    void setWritingStyle(const std::string& key) override;
    std::optional<std::string> styleInstruction(const std::string& key) const;

    // Rewrite workflow (app/RewriteWorkflow.cpp).
    void hotkeyTriggered() override;
    void processSelectedText() override;

    // Clipboard and keystroke bridge (app/ClipboardBridge.cpp).
    void saveOriginalPasteboard();
    std::optional<std::string> readPasteboardText();
    void placeResultOnPasteboard(const std::string& text);
    void restoreOriginalPasteboard();
    void simulateKeyPress(std::uint16_t keyCode, std::uint64_t flags,
                          std::function<void()> completion = {});
    bool isAccessibilityTrusted();
    void checkAccessibilityPermissions(bool notifyIfGranted);
    void showAccessibilityPermissionAlert();

    // Sign-in (auth/SignIn.cpp).
    void signInAction();
    void handleGetURLWithEvent(const std::optional<std::string>& url);
    void signOutAction();
    void showSignInPrompt();

    // Status menu (ui/StatusMenu.cpp).
    void rebuildStatusMenu();
    void selectCustomStyleFromStatusBar();
    void selectInformalStyleFromStatusBar();
    void selectCasualStyleFromStatusBar();
    void selectConciseStyleFromStatusBar();
    void checkForUpdatesAction();
    void quitApplication();
    void showSettings();
    void checkAccessibilityPermissionsAction();

    // Dialogs and notices (ui/Dialogs.cpp, ui/Notices.cpp).
    void showAlert(const std::string& title, const std::string& message,
                   platform::AlertStyle style) override;
    void showInputDialog(const std::string& title, const std::string& message,
                         const std::string& initialText,
                         std::function<void(const std::optional<std::string>&)> completion);
    void showAboutInfo();
    void showCustomInstructionsInput();
    void resetCustomInstructions();

    // Shortcut editor (hotkey/ShortcutEditor.cpp).
    void showShortcutEditor() override;

    // Update outcomes (update/UpdatePrompts.cpp).
    void updateAvailable(const std::string& newestVersion) override;
    void noUpdateAvailable(const std::string& runningVersion) override;
    void updateCheckFailed(const UpdateCheckError& error) override;

    // State, read-only from outside.
    bool isSignedIn() const { return isAuthenticated_ && authToken_.has_value(); }
    bool isAuthenticated() const override { return isAuthenticated_; }
    const std::optional<std::string>& authToken() const override { return authToken_; }
    const std::string& authURLString() const { return authURLString_; }
    const std::vector<AIProvider>& providers() const { return providers_; }
    const std::string& defaultModel() const { return defaultModel_; }
    const std::optional<std::string>& selectedModel() const { return selectedModel_; }
    const std::optional<std::string>& customInstructions() const { return customInstructions_; }
    const std::string& currentWritingStyle() const { return currentWritingStyle_; }
    const std::optional<std::string>& originalPasteboardContent() const {
        return originalPasteboardContent_;
    }
    bool isProcessingText() const { return isProcessingText_; }
    int animationStep() const { return animationStep_; }
    const std::shared_ptr<platform::StatusItem>& statusItem() const { return statusItem_; }
    const std::shared_ptr<platform::Window>& shortcutEditorWindow() const {
        return shortcutEditorWindow_;
    }
    const std::shared_ptr<SettingsManager>& settingsManager() const { return settingsManager_; }
    const std::shared_ptr<MenuManager>& menuManager() const { return menuManager_; }
    const std::shared_ptr<HotkeyManager>& hotkeyManager() const { return hotkeyManager_; }
    const std::shared_ptr<APIService>& apiService() const { return apiService_; }
    const std::shared_ptr<AutoUpdateService>& autoUpdateService() const {
        return autoUpdateService_;
    }
    const ServiceEndpoints& endpoints() const { return endpoints_; }

    // Puts the account into a state the operations cannot reach on their own (signed in without
    // a token); for tests of that state only.
    void setAccountStateForTesting(bool isAuthenticated, std::optional<std::string> token);

  private:
    // Rewrite workflow internals.
    void abortProcessing();
    void startProcessing();
    void processCopiedText();
    void advanceProcessingAnimation();
    void handleProcessingResult(const std::string& result);
    void finishPasteAndRestore();
    void handleAuthenticationError();
    void queueHUD(bool show);

    const platform::Platform& platform_;
    HUDManager& hud_;
    const ServiceEndpoints endpoints_;
    KeychainTokenStore tokenStore_;

    // Fields in the order of the application's data model.
    const std::string authURLString_;
    const std::vector<AIProvider> providers_;
    const std::string defaultModel_;
    std::shared_ptr<platform::StatusItem> statusItem_;
    platform::Clipboard& pasteboard_;
    std::optional<std::string> originalPasteboardContent_;
    std::optional<std::string> selectedModel_;
    std::optional<std::string> customInstructions_;
    std::string currentWritingStyle_ = "custom";
    bool isAuthenticated_ = false;
    std::optional<std::string> authToken_;
    std::shared_ptr<SettingsManager> settingsManager_;
    std::shared_ptr<MenuManager> menuManager_;
    std::shared_ptr<HotkeyManager> hotkeyManager_;
    std::shared_ptr<APIService> apiService_;
    std::shared_ptr<AutoUpdateService> autoUpdateService_;
    bool isProcessingText_ = false;
    std::shared_ptr<platform::HttpTask> currentAPITask_;
    std::shared_ptr<platform::Timer> processingAnimationTimer_;
    int animationStep_ = 0;
    std::shared_ptr<platform::Window> shortcutEditorWindow_;

    // Everything the clipboard held when the selection was copied; present from a save until the
    // restore that puts it back, so a restore with nothing pending leaves the clipboard alone.
    std::optional<platform::ClipboardSnapshot> originalPasteboardSnapshot_;
};

// The entry type: makes the one application delegate and hands it the launch and termination.
class MendwellApp {
  public:
    MendwellApp(const platform::Platform& platform, HUDManager& hud, ServiceEndpoints endpoints);

    void didFinishLaunching() { appDelegate->applicationDidFinishLaunching(); }
    void willTerminate() { appDelegate->applicationWillTerminate(); }

    const std::shared_ptr<AppDelegate> appDelegate;
};

}  // namespace velmora
