#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/AppDelegate.h"
#include "support/TestPlatform.h"

namespace velmora::testing {

inline ServiceEndpoints testEndpoints() {
    return ServiceEndpoints::forHosts({"api.test", "download.test", "www.test"});
}

// One application on the test platform, as the entry point makes it, with its log captured.
// Construct, adjust the platform (stored token, answers, permissions), then `launch()`.
class AppHarness {
  public:
    AppHarness() : app(test.platform, test.hud, testEndpoints()) {}

    // Runs the launch sequence and every block it queued for now; the update check stays
    // pending for 2 s.
    AppDelegate& launch() {
        app.didFinishLaunching();
        test.queue.runUntilIdle();
        return delegate();
    }

    // Launches signed in with `token` stored in the keychain.
    AppDelegate& launchSignedIn(const std::string& token = "session-token") {
        test.keychain.storeToken(token);
        return launch();
    }

    AppDelegate& delegate() { return *app.appDelegate; }
    TestStatusItem& statusItem() { return *test.statusBar.item; }

    TestPlatform test;
    LogCapture log;
    MendwellApp app;
};

}  // namespace velmora::testing
