#pragma once

#include <string>

#include "app/AppDelegate.h"
#include "support/TestPlatform.h"

namespace velmora::testing {

// One application on the test platform, as the entry point makes it, with its log captured.
// Adjust the platform (a stored token, answers, permissions), then `launch()`.
class AppHarness {
  public:
    AppHarness()
        : app(test.platform, test.hud,
              ServiceEndpoints::forHosts({"api.test", "download.test", "www.test"})) {}

    // Runs the launch and every block it queued for now; the update check waits 2 s.
    AppDelegate& launch() {
        app.didFinishLaunching();
        test.queue.runUntilIdle();
        return delegate();
    }
    AppDelegate& launchSignedIn(const std::string& token = "session-token") {
        test.secrets.storeToken(token);
        return launch();
    }

    // Signs in as the user does: "Sign in" in the menu, then the browser's callback.
    void signIn(const std::string& token) {
        choose("Sign in");
        test.application.urlHandler("velmora://auth/callback?token=" + token);
        test.queue.runUntilIdle();
    }

    AppDelegate& delegate() { return *app.appDelegate; }
    FakeStatusItem& statusItem() { return *test.tray.item; }
    // Chooses a tray menu item and runs what it queued.
    void choose(std::string_view title) {
        statusItem().choose(title, test.queue);
        test.queue.runUntilIdle();
    }
    void run(platform::MainQueue::Duration duration = {}) { test.queue.advance(duration); }

    TestPlatform test;
    LogCapture log;
    MendwellApp app;
};

}  // namespace velmora::testing
