#include "app/AppDelegate.h"

#include "platform/Log.h"
#include "settings/Catalog.h"

namespace velmora {

AppDelegate::AppDelegate(const platform::Platform& platform, HUDManager& hud,
                         ServiceEndpoints endpoints)
    : platform_(platform),
      hud_(hud),
      endpoints_(std::move(endpoints)),
      tokenStore_(platform.keychain),
      authURLString_(endpoints_.signInPage),
      providers_(builtInProviders()),
      defaultModel_(kDefaultModel),
      pasteboard_(platform.clipboard) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::createServices() {
    settingsManager_ =
        std::make_shared<SettingsManager>(platform_.defaults, providers_, defaultModel_);

    menuManager_ = std::make_shared<MenuManager>();
    menuManager_->delegate = weak_from_this();

    hotkeyManager_ =
        std::make_shared<HotkeyManager>(platform_.hotKeys, platform_.keyboardLayout,
                                        platform_.defaults, platform_.mainQueue, weak_from_this());

    apiService_ = std::make_shared<APIService>(platform_.http, platform_.mainQueue, endpoints_.chat,
                                               providers_);
    apiService_->delegate = weak_from_this();

    autoUpdateService_ = std::make_shared<AutoUpdateService>(
        platform_.http, platform_.mainQueue, platform_.workspace, platform_.bundle,
        endpoints_.installer, endpoints_.versionDocument);
    autoUpdateService_->delegate = weak_from_this();
}

void AppDelegate::loadSettings() {
    selectedModel_ = settingsManager_->loadSelectedModel();
    customInstructions_ = settingsManager_->loadCustomInstructions();
    currentWritingStyle_ = settingsManager_->loadWritingStyle();
    authToken_ = tokenStore_.loadToken();
    isAuthenticated_ = authToken_.has_value();
    settingsManager_->saveAuthenticationFlag(isAuthenticated_);

    const bool customSet = customInstructions_ && !customInstructions_->empty();
    logLine("Settings loaded: Model=" + selectedModel_.value_or("nil") + ", CustomInstr Set=" +
            (customSet ? "true" : "false") + ", WritingStyle=" + currentWritingStyle_ +
            ", Authenticated=" + (isAuthenticated_ ? "true" : "false"));
}

void AppDelegate::applicationDidFinishLaunching() {
    createServices();
    loadSettings();

    statusItem_ = platform_.statusBar.statusItem(platform::squareStatusItemLength);
    if (statusItem_ && statusItem_->hasButton()) {
        resetStatusIcon();
        rebuildStatusMenu();
    }

    platform_.keyEvents.createAndReleaseEventTap();
    checkAccessibilityPermissions(false);
    hotkeyManager_->registerHotkey();
    platform_.application.setActivationPolicy(platform::ActivationPolicy::Accessory);

    std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    platform_.urlEvents.setHandler([weakSelf](const std::optional<std::string>& url) {
        if (auto self = weakSelf.lock()) {
            self->handleGetURLWithEvent(url);
        }
    });

    platform_.mainQueue.asyncAfter(2.0, [weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->autoUpdateService_->checkForUpdates();
        }
    });

    logLine("App launched. Selected Model: " + selectedModel_.value_or("nil") +
            ". Authenticated: " + (isAuthenticated_ ? "true" : "false") +
            ", Token available: " + (authToken_ ? "true" : "false"));
}

void AppDelegate::applicationWillTerminate() {
    if (isProcessingText_) {
        if (currentAPITask_) {
            currentAPITask_->cancel();
        }
        if (processingAnimationTimer_) {
            processingAnimationTimer_->invalidate();
            processingAnimationTimer_.reset();
        }
        resetStatusIcon();
        queueHUD(false);
    }
    if (hotkeyManager_) {
        hotkeyManager_->unregisterHotkey();
    }
    platform_.urlEvents.removeHandler();
}

void AppDelegate::resetStatusIcon() {
    if (!statusItem_ || !statusItem_->hasButton()) {
        return;
    }
    if (!platform_.images.hasImageNamed("AppIcon")) {
        return;
    }
    platform::StatusImage image;
    image.kind = platform::StatusImage::Kind::Application;
    image.name = "AppIcon";
    image.width = 18;
    image.height = 18;
    image.isTemplate = false;
    statusItem_->setImage(image);
}

void AppDelegate::setAccountStateForTesting(bool isAuthenticated,
                                            std::optional<std::string> token) {
    isAuthenticated_ = isAuthenticated;
    authToken_ = std::move(token);
}

MendwellApp::MendwellApp(const platform::Platform& platform, HUDManager& hud,
                         ServiceEndpoints endpoints)
    : appDelegate(std::make_shared<AppDelegate>(platform, hud, std::move(endpoints))) {}

}  // namespace velmora
