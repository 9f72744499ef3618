#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::AlertStyle;
using testing::AppHarness;

constexpr platform::OSStatus kInteractionNotAllowed = -25308;

void expectNoLineContains(const AppHarness& harness, const std::string& secret) {
    for (const auto& line : harness.log.lines()) {
        EXPECT_EQ(line.find(secret), std::string::npos) << "leaked into: " << line;
    }
}

void expectSingleNotice(const AppHarness& harness, const std::string& title,
                        const std::string& message, AlertStyle style) {
    ASSERT_EQ(harness.test.alerts.shown.size(), 1u);
    const auto& request = harness.test.alerts.shown.front().request;
    EXPECT_EQ(request.messageText, title);
    EXPECT_EQ(request.informativeText, message);
    EXPECT_EQ(request.style, style);
    EXPECT_EQ(request.buttons, std::vector<std::string>{"OK"});
}

TEST(SignIn, SignInOpensTheServicePageOrReportsAnUnusableAddress) {
    AppHarness harness;
    harness.launch();
    harness.log.clear();
    ASSERT_TRUE(harness.statusItem().choose("Sign in"));
    EXPECT_EQ(harness.test.workspace.opened,
              std::vector<std::string>{"https://api.test/auth/google?platform=mac"});
    EXPECT_EQ(harness.log.lines(),
              std::vector<std::string>{"Opening authentication URL: "
                                       "https://api.test/auth/google?platform=mac"});
    harness.test.queue.runUntilIdle();
    EXPECT_TRUE(harness.test.alerts.shown.empty());
    EXPECT_FALSE(harness.delegate().isSignedIn());

    testing::TestPlatform test;
    testing::LogCapture log;
    MendwellApp app(test.platform, test.hud,
                    ServiceEndpoints::forHosts({"bad host", "download.test", "www.test"}));
    app.appDelegate->signInAction();
    EXPECT_TRUE(log.contains(
        "Error: Invalid authentication URL: https://bad host/auth/google?platform=mac"));
    EXPECT_TRUE(test.workspace.opened.empty());
    test.queue.runUntilIdle();
    ASSERT_EQ(test.alerts.shown.size(), 1u);
    EXPECT_EQ(test.alerts.shown[0].request.messageText, "Error");
    EXPECT_EQ(test.alerts.shown[0].request.informativeText,
              "Could not initiate sign-in. The authentication URL is invalid.");
    EXPECT_EQ(test.alerts.shown[0].request.style, AlertStyle::Critical);
}

TEST(SignIn, AcceptedCallbackStoresTheTokenRebuildsTheMenuThenConfirms) {
    AppHarness harness;
    harness.launch();
    harness.log.clear();
    const std::size_t pendingBefore = harness.test.queue.pendingCount();
    ASSERT_TRUE(harness.test.urlEvents.deliver("velmora://auth/callback?token=abc123"));

    EXPECT_TRUE(harness.delegate().isSignedIn());
    EXPECT_EQ(harness.delegate().authToken(), "abc123");
    EXPECT_EQ(harness.test.keychain.storedToken(), "abc123");
    EXPECT_EQ(harness.test.defaults.values["isUserAuthenticated"],
              testing::TestDefaults::Value{true});
    EXPECT_NE(harness.statusItem().find("Sign in"), nullptr) << "the rebuild travels queued";
    EXPECT_EQ(harness.test.queue.pendingCount(), pendingBefore + 1)
        << "one block: rebuild, then the notice";

    harness.test.queue.runUntilIdle();
    EXPECT_NE(harness.statusItem().find("Sign out"), nullptr);
    expectSingleNotice(harness, "Signed In", "You have successfully signed in to Velmora.",
                       AlertStyle::Informational);

    const auto lines = harness.log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "Received URL: velmora://auth/callback?token=<redacted>");
    EXPECT_TRUE(
        harness.log.contains("Authentication successful via URL callback. Token received."));
    expectNoLineContains(harness, "abc123");
}

TEST(SignIn, FirstDecodedTokenItemWinsAndEveryTokenValueIsRedacted) {
    AppHarness harness;
    harness.launchSignedIn("old-token");
    harness.log.clear();
    harness.test.urlEvents.deliver(
        "velmora://auth/callback?state=s1&token=first%2Bpart%20one%3D&x=1&token=second#frag");
    EXPECT_EQ(harness.delegate().authToken(), "first+part one=");
    EXPECT_EQ(harness.test.keychain.storedToken(), "first+part one=");
    EXPECT_EQ(harness.log.lines().front(),
              "Received URL: velmora://auth/callback?state=s1&token=<redacted>&x=1&"
              "token=<redacted>#frag");
    expectNoLineContains(harness, "first");
    expectNoLineContains(harness, "second");
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.alerts.titles(), std::vector<std::string>{"Signed In"});

    // An escaped item name is still the token item, for the value and for the log.
    AppHarness escaped;
    escaped.launch();
    escaped.log.clear();
    escaped.test.urlEvents.deliver("velmora://auth/callback?%74oken=hidden");
    EXPECT_EQ(escaped.delegate().authToken(), "hidden");
    expectNoLineContains(escaped, "hidden");
}

TEST(SignIn, CallbacksWithoutATokenValueLeaveTheStateAlone) {
    for (const char* url : {"velmora://auth/callback", "velmora://auth/callback?state=1",
                            "velmora://auth/callback?token", "velmora://auth/callback?token=",
                            "velmora://auth/callback?token=&token=late"}) {
        SCOPED_TRACE(url);
        AppHarness harness;
        harness.launch();
        harness.log.clear();
        harness.test.urlEvents.deliver(std::string(url));

        EXPECT_TRUE(harness.log.contains(
            "Error: Authentication callback received, but no token found in URL."));
        EXPECT_FALSE(harness.delegate().isAuthenticated());
        EXPECT_FALSE(harness.delegate().authToken().has_value());
        EXPECT_TRUE(harness.test.keychain.items.empty());
        harness.test.queue.runUntilIdle();
        expectSingleNotice(harness, "Sign-In Error",
                           "Authentication was incomplete. No token received.",
                           AlertStyle::Warning);
        expectNoLineContains(harness, "late");
    }
}

TEST(SignIn, ForeignOrUnparsableUrlsOnlyLog) {
    for (const char* url : {"velmora://login/callback?token=abc", "velmora://auth/other?token=abc",
                            "other://auth/callback?token=abc", "velmora://AUTH/callback?token=abc",
                            "velmora:auth/callback?token=abc"}) {
        SCOPED_TRACE(url);
        AppHarness harness;
        harness.launch();
        harness.log.clear();
        harness.test.urlEvents.deliver(std::string(url));
        harness.test.queue.runUntilIdle();
        ASSERT_EQ(harness.log.lines().size(), 1u);
        EXPECT_EQ(harness.log.lines()[0].rfind("Received URL: ", 0), 0u);
        expectNoLineContains(harness, "abc");
        EXPECT_TRUE(harness.test.alerts.shown.empty());
        EXPECT_FALSE(harness.delegate().isAuthenticated());
    }

    AppHarness harness;
    harness.launch();
    harness.log.clear();
    harness.test.urlEvents.deliver(std::nullopt);
    harness.test.urlEvents.deliver(std::string("not a url"));
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.log.lines(),
              (std::vector<std::string>{"Error: Could not parse URL from AppleEvent",
                                        "Error: Could not parse URL from AppleEvent"}));
    EXPECT_TRUE(harness.test.alerts.shown.empty());
}

TEST(SignIn, KeychainRefusingTheSaveKeepsThePreviousState) {
    AppHarness signedOut;
    signedOut.launch();
    signedOut.test.keychain.forcedStatus["add"] = kInteractionNotAllowed;
    signedOut.test.urlEvents.deliver(std::string("velmora://auth/callback?token=n3wtok"));
    EXPECT_TRUE(signedOut.log.contains("Error: Failed to save token to Keychain."));
    EXPECT_FALSE(signedOut.delegate().isSignedIn());
    signedOut.test.queue.runUntilIdle();
    expectSingleNotice(signedOut, "Sign-In Error",
                       "Could not securely store your session. Please try again.",
                       AlertStyle::Critical);
    EXPECT_NE(signedOut.statusItem().find("Sign in"), nullptr);

    AppHarness signedIn;
    signedIn.launchSignedIn("old");
    signedIn.test.keychain.forcedStatus["update"] = kInteractionNotAllowed;
    signedIn.test.urlEvents.deliver(std::string("velmora://auth/callback?token=n3wtok"));
    EXPECT_TRUE(signedIn.delegate().isSignedIn());
    EXPECT_EQ(signedIn.delegate().authToken(), "old");
    EXPECT_EQ(signedIn.test.keychain.storedToken(), "old");
    expectNoLineContains(signedIn, "n3wtok");
}

TEST(SignIn, SignOutClearsEverythingAndRebuildsAtOnceWhateverTheKeychainSays) {
    AppHarness harness;
    harness.launchSignedIn("tok");
    harness.log.clear();
    ASSERT_TRUE(harness.statusItem().choose("Sign out"));
    EXPECT_NE(harness.statusItem().find("Sign in"), nullptr) << "rebuilt before returning";
    EXPECT_FALSE(harness.delegate().isAuthenticated());
    EXPECT_FALSE(harness.delegate().authToken().has_value());
    EXPECT_FALSE(harness.test.keychain.storedToken().has_value());
    EXPECT_EQ(harness.test.defaults.values["isUserAuthenticated"],
              testing::TestDefaults::Value{false});
    const auto lines = harness.log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Signing out...");
    EXPECT_LT(harness.log.indexOf("Signing out..."),
              harness.log.indexOf("Token successfully deleted from Keychain."));
    EXPECT_TRUE(harness.test.alerts.shown.empty());
    harness.test.queue.runUntilIdle();
    expectSingleNotice(harness, "Signed Out", "You have been signed out.",
                       AlertStyle::Informational);

    // Signed out already: the same road, the missing item counting as deleted.
    harness.log.clear();
    harness.delegate().signOutAction();
    EXPECT_TRUE(harness.log.contains("Token successfully deleted from Keychain."));
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.alerts.titles(), (std::vector<std::string>{"Signed Out", "Signed Out"}));

    AppHarness refusing;
    refusing.launchSignedIn("tok");
    refusing.test.keychain.forcedStatus["remove"] = kInteractionNotAllowed;
    refusing.delegate().signOutAction();
    EXPECT_TRUE(refusing.log.contains(
        "Failed to delete token from Keychain, but proceeding with sign out."));
    EXPECT_FALSE(refusing.delegate().isSignedIn());
    EXPECT_NE(refusing.statusItem().find("Sign in"), nullptr);
}

TEST(SignIn, SignInPromptIsAnInformationalNotice) {
    AppHarness harness;
    harness.launch();
    harness.delegate().showSignInPrompt();
    EXPECT_TRUE(harness.test.alerts.shown.empty());
    harness.test.queue.runUntilIdle();
    expectSingleNotice(harness, "Sign In Required", "Please sign in to use this feature.",
                       AlertStyle::Informational);
}

}  // namespace
}  // namespace velmora
