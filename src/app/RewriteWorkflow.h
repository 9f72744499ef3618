#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "api/APIService.h"
#include "app/ClipboardBridge.h"
#include "auth/Account.h"
#include "base/WeakScope.h"
#include "platform/Http.h"
#include "platform/MainQueue.h"
#include "settings/Preferences.h"
#include "ui/Notices.h"
#include "ui/StatusMenu.h"
#include "ui/hud/HUDManager.h"

namespace velmora {

// One rewrite from the trigger to the paste: copy the selection, send it with the current style's
// instruction, paste the answer and give the clipboard back once the application has taken it.
// A trigger while a rewrite runs cancels it. Everything runs on the main queue, and every step
// carries the number of its run: a step of a run that has been cancelled or overtaken does
// nothing.
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
    };

    explicit RewriteWorkflow(Services services) : s_(services) {}

    void hotkeyTriggered();
    void processSelectedText();
    // At termination: the request is cancelled, the icon and panel go back to idle, and the
    // clipboard gets back what it held before the rewrite.
    void stopForTermination();

    bool isProcessingText() const { return isProcessingText_; }

  private:
    using Run = std::uint64_t;

    void abortProcessing();
    void startProcessing();
    void copyFinished(Run run, const platform::KeystrokeResult& copy);
    void processCopiedText(Run run);
    void finishWithoutText(const std::string& title, const std::string& message);
    void advanceProcessingAnimation();
    void handleProcessingResult(ProxyResult result);
    void pasteFinished(Run run, const platform::KeystrokeResult& paste);
    void finishPasteAndRestore(Run run);
    void restoreWhenPasted(Run run);
    void handleAuthenticationError();
    void stopAnimation();
    void queueHUD(bool show);
    bool isCurrent(Run run) const { return run == currentRun_; }

    Services s_;
    bool isProcessingText_ = false;
    std::unique_ptr<platform::HttpTask> currentAPITask_;
    std::unique_ptr<platform::Timer> processingAnimationTimer_;
    int animationStep_ = 0;
    // Numbers each rewrite; a cancel or a new rewrite moves it on.
    Run currentRun_ = 0;
    // After a paste: whether the shortest wait has passed, and whether the application has
    // taken the answer (or the wait for that ended).
    bool restoreFloorPassed_ = false;
    bool answerTaken_ = false;
    WeakScope scope_;
};

}  // namespace velmora
