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

AppDelegate::Running::Running(AppDelegate& app)
    : settingsManager(app.platform_.defaults, app.providers_, app.defaultModel_),
      hotkeyManager(app.platform_.shortcuts, app.platform_.keyNames, app.platform_.defaults,
                    app.platform_.mainQueue, app),
      apiService(app.platform_.http, app.platform_.mainQueue, app.endpoints_.chat, app.providers_),
      autoUpdateService(app.platform_.http, app.platform_.mainQueue, app.platform_.application, app,
                        app.endpoints_.installer, app.endpoints_.versionDocument),
      preferences(settingsManager),
      account(app.tokenStore_, settingsManager),
      statusMenu(app.platform_.tray,
                 app.scope_.bind([&app](MenuCommand command) { app.perform(command); })),
      dialogs(app.platform_.alerts, app.platform_.mainQueue, app.platform_.application,
              app.notices_, preferences,
              Dialogs::Websites{app.endpoints_.website, app.endpoints_.privacyPage},
              app.scope_.bind([&app] { app.rebuildStatusMenu(); })),
      signIn(account, app.notices_, app.platform_.alerts, app.platform_.application,
             app.platform_.tray, app.platform_.mainQueue, app.endpoints_.signInPage),
      bridge(app.platform_.clipboard, app.platform_.keystrokes, app.platform_.alerts,
             app.platform_.mainQueue, app.notices_),
      workflow({app.platform_.mainQueue, bridge, apiService, app.hud_, statusMenu, app.notices_,
                account, preferences}),
      shortcutEditor(app.platform_.windows, app.platform_.mainQueue, hotkeyManager, app.notices_),
      updatePrompts(app.platform_.alerts, app.platform_.mainQueue, app.notices_,
                    [this] { autoUpdateService.downloadUpdate(); }) {
    menuManager.delegate = &app;
    apiService.delegate = &app;
}

void AppDelegate::loadSettings() {
    Running& r = running();
    r.preferences.load();
    r.account.load();

    const auto& custom = r.preferences.customInstructions();
    logLine("Settings loaded: Model=" + r.preferences.selectedModel().value_or("nil") +
            ", CustomInstr Set=" + (custom && !custom->empty() ? "true" : "false") +
            ", WritingStyle=" + forLog(r.preferences.currentWritingStyle()) +
            ", Authenticated=" + (r.account.isAuthenticated() ? "true" : "false"));
}

void AppDelegate::applicationDidFinishLaunching() {
    running_.emplace(*this);
    loadSettings();
    Running& r = running();
    // The menu follows every sign-in and sign-out, whoever made it.
    r.account.setChangeHandler(scope_.bind([this] { rebuildStatusMenu(); }));

    r.statusMenu.createStatusItem();
    r.statusMenu.resetStatusIcon();
    rebuildStatusMenu();
    r.bridge.checkAccessibilityPermissions(false);
    r.hotkeyManager.registerHotkey();
    if (const auto problem = platform_.defaults.readProblem()) {
        showAlert("Settings Cannot Be Read", *problem, platform::AlertStyle::Warning);
    }
    if (const auto problem = platform_.defaults.storageProblem()) {
        showAlert("Settings Cannot Be Saved", *problem, platform::AlertStyle::Warning);
    }
    platform_.application.setUrlHandler(
        scope_.bind([this](const std::optional<std::string>& url) { handleGetURLWithEvent(url); }));
    platform_.mainQueue.asyncAfter(std::chrono::seconds(2), scope_.bind([this] {
        running().autoUpdateService.checkForUpdates();
    }));

    logLine("App launched. Selected Model: " + r.preferences.selectedModel().value_or("nil") +
            ". Authenticated: " + (r.account.isAuthenticated() ? "true" : "false") +
            ", Token available: " + (r.account.authToken() ? "true" : "false"));
}

void AppDelegate::applicationWillTerminate() {
    if (!running_) {
        return;
    }
    running().workflow.stopForTermination();
    running().hotkeyManager.unregisterHotkey();
    platform_.application.setUrlHandler({});
}

void AppDelegate::selectModel(const std::string& name) {
    if (!running().preferences.selectModel(name)) {
        showAlert("Error", "The selected model '" + name + "' is not valid.",
                  platform::AlertStyle::Warning);
    }
}

void AppDelegate::rebuildStatusMenu() {
    running().statusMenu.rebuildStatusMenu(running().preferences.currentWritingStyle(),
                                           running().account.isSignedIn(),
                                           platform_.application.startsAtLogin());
}

void AppDelegate::perform(MenuCommand command) {
    Running& r = running();
    switch (command) {
        case MenuCommand::SelectCustomStyle:
            setWritingStyle(kStyleCustom);
            // The menu follows only when the dialog is confirmed.
            r.dialogs.showCustomInstructionsInput();
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
            r.autoUpdateService.checkForUpdates();
            break;
        case MenuCommand::SignIn:
            r.signIn.signInAction();
            break;
        case MenuCommand::SignOut:
            r.signIn.signOutAction();
            break;
        case MenuCommand::ShowAbout:
            r.dialogs.showAboutInfo(r.hotkeyManager.shortcutDisplayString());
            break;
        case MenuCommand::Quit:
            platform_.application.terminate();
            break;
        case MenuCommand::CheckPermissions:
            r.bridge.checkAccessibilityPermissions(true);
            break;
        case MenuCommand::ResetWritingStyle:
            r.dialogs.resetCustomInstructions();
            break;
        case MenuCommand::ShowSettings:
            showSettings();
            break;
        case MenuCommand::ToggleStartAtLogin:
            if (const auto problem = platform_.application.setStartsAtLogin(
                    !platform_.application.startsAtLogin())) {
                showAlert("Start at Login Not Changed", *problem, platform::AlertStyle::Warning);
            }
            rebuildStatusMenu();
            break;
    }
}

}  // namespace velmora
