#include "app/AppDelegate.h"

#include "base/Log.h"
#include "settings/Catalog.h"
#include "settings/WritingStyles.h"

namespace velmora {

AppDelegate::AppDelegate(const platform::Platform& platform, HUDManager& hud,
                         ServiceEndpoints endpoints)
    : platform_(platform),
      hud_(hud),
      endpoints_(std::move(endpoints)),
      providers_(builtInProviders()),
      defaultModel_(kDefaultModel),
      notices_(platform.alerts, platform.mainQueue),
      tokenStore_(platform.secrets) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::createServices() {
    const std::weak_ptr<void> owner = weak_from_this();
    settingsManager_ =
        std::make_unique<SettingsManager>(platform_.defaults, providers_, defaultModel_);
    menuManager_ = std::make_unique<MenuManager>();
    menuManager_->delegate = weak_from_this();
    hotkeyManager_ =
        std::make_unique<HotkeyManager>(platform_.shortcuts, platform_.keyNames, platform_.defaults,
                                        platform_.mainQueue, *this, owner);
    apiService_ = std::make_unique<APIService>(platform_.http, platform_.mainQueue, endpoints_.chat,
                                               providers_);
    apiService_->delegate = weak_from_this();
    autoUpdateService_ = std::make_unique<AutoUpdateService>(
        platform_.http, platform_.mainQueue, platform_.application, *this, endpoints_.installer,
        endpoints_.versionDocument, owner);
    preferences_ = std::make_unique<Preferences>(*settingsManager_);
}

void AppDelegate::loadSettings() {
    preferences_->load();
    account_.authToken = tokenStore_.loadToken();
    account_.isAuthenticated = account_.authToken.has_value();
    settingsManager_->saveAuthenticationFlag(account_.isAuthenticated);

    const auto& custom = preferences_->customInstructions();
    logLine("Settings loaded: Model=" + preferences_->selectedModel().value_or("nil") +
            ", CustomInstr Set=" + (custom && !custom->empty() ? "true" : "false") +
            ", WritingStyle=" + preferences_->currentWritingStyle() +
            ", Authenticated=" + (account_.isAuthenticated ? "true" : "false"));
}

void AppDelegate::applicationDidFinishLaunching() {
    createServices();
    loadSettings();

    const std::weak_ptr<void> owner = weak_from_this();
    auto rebuild = [this, owner] {
        if (owner.lock()) {
            rebuildStatusMenu();
        }
    };
    statusMenu_ = std::make_unique<StatusMenu>(platform_.tray.createStatusItem(),
                                               [this, owner](MenuCommand command) {
                                                   if (owner.lock()) {
                                                       perform(command);
                                                   }
                                               });
    dialogs_ = std::make_unique<Dialogs>(
        platform_.alerts, platform_.mainQueue, platform_.application, notices_, *preferences_,
        Dialogs::Websites{endpoints_.website, endpoints_.privacyPage}, rebuild, owner);
    signIn_ = std::make_unique<SignIn>(account_, tokenStore_, *settingsManager_, notices_,
                                       platform_.alerts, platform_.application, platform_.mainQueue,
                                       endpoints_.signInPage, rebuild, owner);
    bridge_ =
        std::make_unique<ClipboardBridge>(platform_.clipboard, platform_.keystrokes,
                                          platform_.alerts, platform_.mainQueue, notices_, owner);
    workflow_ = std::make_unique<RewriteWorkflow>(
        RewriteWorkflow::Services{platform_.mainQueue, *bridge_, *apiService_, hud_, *statusMenu_,
                                  notices_, account_, *preferences_, tokenStore_,
                                  *settingsManager_},
        owner);
    shortcutEditor_ = std::make_unique<ShortcutEditor>(platform_.windows, platform_.mainQueue,
                                                       *hotkeyManager_, notices_, owner);
    updatePrompts_ = std::make_unique<UpdatePrompts>(
        platform_.alerts, platform_.mainQueue, notices_,
        [this] { autoUpdateService_->downloadUpdate(); }, owner);

    statusMenu_->resetStatusIcon();
    rebuildStatusMenu();
    bridge_->checkAccessibilityPermissions(false);
    hotkeyManager_->registerHotkey();
    if (const auto problem = platform_.defaults.readProblem()) {
        showAlert("Settings Cannot Be Read", *problem, platform::AlertStyle::Warning);
    }
    if (const auto problem = platform_.defaults.storageProblem()) {
        showAlert("Settings Cannot Be Saved", *problem, platform::AlertStyle::Warning);
    }
    platform_.application.setUrlHandler([this, owner](const std::optional<std::string>& url) {
        if (owner.lock()) {
            handleGetURLWithEvent(url);
        }
    });
    platform_.mainQueue.asyncAfter(std::chrono::seconds(2), [this, owner] {
        if (owner.lock()) {
            autoUpdateService_->checkForUpdates();
        }
    });

    logLine("App launched. Selected Model: " + preferences_->selectedModel().value_or("nil") +
            ". Authenticated: " + (account_.isAuthenticated ? "true" : "false") +
            ", Token available: " + (account_.authToken ? "true" : "false"));
}

void AppDelegate::applicationWillTerminate() {
    workflow_->stopForTermination();
    hotkeyManager_->unregisterHotkey();
    platform_.application.setUrlHandler({});
}

void AppDelegate::selectModel(const std::string& name) {
    if (!preferences_->selectModel(name)) {
        showAlert("Error", "The selected model '" + name + "' is not valid.",
                  platform::AlertStyle::Warning);
    }
}

void AppDelegate::rebuildStatusMenu() {
    statusMenu_->rebuildStatusMenu(preferences_->currentWritingStyle(), account_.isSignedIn());
}

void AppDelegate::perform(MenuCommand command) {
    switch (command) {
        case MenuCommand::SelectCustomStyle:
            setWritingStyle(kStyleCustom);
            // The menu follows only when the dialog is confirmed.
            dialogs_->showCustomInstructionsInput();
            break;
        case MenuCommand::SelectInformalStyle:
            setWritingStyle(kStyleInformal);
            rebuildStatusMenu();
            break;
        case MenuCommand::SelectCasualStyle:
            setWritingStyle(kStyleCasual);
            rebuildStatusMenu();
            break;
        case MenuCommand::SelectConciseStyle:
            setWritingStyle(kStyleConcise);
            rebuildStatusMenu();
            break;
        case MenuCommand::EditShortcut:
            showShortcutEditor();
            break;
        case MenuCommand::CheckForUpdates:
            autoUpdateService_->checkForUpdates();
            break;
        case MenuCommand::SignIn:
            signIn_->signInAction();
            break;
        case MenuCommand::SignOut:
            signIn_->signOutAction();
            break;
        case MenuCommand::ShowAbout:
            dialogs_->showAboutInfo(hotkeyManager_->shortcutDisplayString());
            break;
        case MenuCommand::Quit:
            platform_.application.terminate();
            break;
        case MenuCommand::CheckPermissions:
            bridge_->checkAccessibilityPermissions(true);
            break;
        case MenuCommand::ResetWritingStyle:
            dialogs_->resetCustomInstructions();
            break;
    }
}

}  // namespace velmora
