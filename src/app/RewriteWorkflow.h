#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "api/APIService.h"
#include "app/ClipboardBridge.h"
#include "auth/Account.h"
#include "auth/KeychainTokenStore.h"
#include "platform/Http.h"
#include "platform/MainQueue.h"
#include "settings/Preferences.h"
#include "settings/SettingsManager.h"
#include "ui/Notices.h"
#include "ui/StatusMenu.h"
#include "ui/hud/HUDManager.h"

namespace velmora {

// One rewrite from the trigger to the paste: copy the selection, send it with the current style's
// instruction, paste the answer and give the clipboard back. A trigger while a rewrite runs cancels
// it. Everything runs on the main queue.
class RewriteWorkflow {
  public:
    struct Services {
        platform::MainQueue& mainQueue;
        ClipboardBridge& bridge;
        APIService& apiService;
        HUDManager& hud;
        StatusMenu& statusMenu;
        Notices& notices;
        Account& account;
        Preferences& preferences;
        KeychainTokenStore& tokenStore;
        SettingsManager& settings;
    };

    RewriteWorkflow(Services services, std::weak_ptr<void> owner);

    void hotkeyTriggered();
    void processSelectedText();
    // At termination: the request is cancelled and the icon and panel go back to idle; the
    // clipboard keeps what it holds.
    void stopForTermination();

    bool isProcessingText() const { return isProcessingText_; }

  private:
    void abortProcessing();
    void startProcessing();
    void processCopiedText();
    void advanceProcessingAnimation();
    void handleProcessingResult(ProxyResult result);
    void finishPasteAndRestore();
    void handleAuthenticationError();
    void stopAnimation();
    void queueHUD(bool show);

    Services s_;
    std::weak_ptr<void> owner_;
    bool isProcessingText_ = false;
    std::unique_ptr<platform::HttpTask> currentAPITask_;
    std::unique_ptr<platform::Timer> processingAnimationTimer_;
    int animationStep_ = 0;
    // Numbers each rewrite, so a result that arrives after its rewrite was cancelled is dropped.
    std::uint64_t currentRun_ = 0;
};

}  // namespace velmora
