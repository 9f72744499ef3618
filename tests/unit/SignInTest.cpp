#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/SignIn.h"
#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::AlertStyle;
using platform::SecretStatus;
using testing::AppHarness;

class SignInTest : public ::testing::Test {
  protected:
    void deliver(const std::optional<std::string>& url) {
        h.test.application.urlHandler(url);
        h.run();
    }
    void expectNoLineContains(const std::string& secret) {
        for (const auto& line : h.log.lines()) {
            EXPECT_EQ(line.find(secret), std::string::npos) << "leaked into: " << line;
        }
    }
    void expectNotices(const std::vector<std::string>& titles) {
        EXPECT_EQ(h.test.alerts.titles(), titles);
    }
    const Account& account() { return h.delegate().account(); }

    AppHarness h;
};

TEST_F(SignInTest, SignInOpensTheServicePage) {
    h.launch();
    h.log.clear();
    h.choose("Sign in");
    EXPECT_EQ(h.test.application.opened,
              std::vector<std::string>{"https://api.test/auth/google?platform=mac"});
    EXPECT_EQ(h.log.lines(), std::vector<std::string>{"Opening authentication URL: "
                                                      "https://api.test/auth/google?platform=mac"});
    expectNotices({});

    h.test.application.hasBrowser = false;
    h.choose("Sign in");
    expectNotices({"Open the Sign-In Page"});
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Velmora could not open your browser. Open this address in your browser to sign in: "
              "https://api.test/auth/google?platform=mac");

    testing::TestPlatform test;
    testing::LogCapture log;
    MendwellApp app(test.platform, test.hud,
                    ServiceEndpoints::forHosts({"bad host", "download.test", "www.test"}));
    app.didFinishLaunching();
    test.tray.item->choose("Sign in", test.queue);
    test.queue.runUntilIdle();
    EXPECT_TRUE(log.contains(
        "Error: Invalid authentication URL: https://bad host/auth/google?platform=mac"));
    EXPECT_TRUE(test.application.opened.empty());
    ASSERT_EQ(test.alerts.titles(), std::vector<std::string>{"Error"});
    EXPECT_EQ(test.alerts.shown[0].request.message,
              "Could not initiate sign-in. The authentication URL is invalid.");
    EXPECT_EQ(test.alerts.shown[0].request.style, AlertStyle::Critical);
}

TEST_F(SignInTest, AcceptedCallbackStoresTheTokenRebuildsTheMenuThenConfirms) {
    h.launchSignedIn("old-token");
    h.delegate().signInAction();
    h.log.clear();
    h.test.application.urlHandler(
        "velmora://auth/"
        "callback?state=s1&token=first%2Bpart%20one%3D%2a%2A%2F&x=1&token=second#frag");
    EXPECT_EQ(account().authToken(), "first+part one=**/");
    EXPECT_EQ(h.test.secrets.token(), "first+part one=**/");
    EXPECT_TRUE(h.test.alerts.shown.empty()) << "the menu and the notice come on a later turn";
    h.run();
    EXPECT_TRUE(h.statusItem().find("Sign out"));
    ASSERT_EQ(h.test.alerts.titles(), std::vector<std::string>{"Signed In"});
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "You have successfully signed in to Velmora.");
    EXPECT_EQ(h.log.lines(),
              (std::vector<std::string>{
                  "Received URL: velmora://auth/callback?state=s1&token=<redacted>&x=1&"
                  "token=<redacted>#frag",
                  "Authentication successful via URL callback. Token received.",
                  "Keychain: Token updated successfully.",
                  "Saved authentication flag to UserDefaults: true"}));
    expectNoLineContains("first");
    expectNoLineContains("second");

    // An escaped item name is still the token item, for the value and for the log. (This second
    // callback is confirmed first; the fake answers "Sign In".)
    deliver("velmora://auth/callback?%74oken=hidden%39");
    EXPECT_EQ(account().authToken(), "hidden9");
    expectNoLineContains("hidden");
}

TEST_F(SignInTest, CallbacksNobodyAskedForAreConfirmedFirst) {
    const std::string question = "Sign in to Velmora with the account from your browser?";
    h.launch();
    h.test.alerts.answers.push_back({1, std::nullopt});
    deliver("velmora://auth/callback?token=planted");
    expectNotices({question});
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Your browser handed Velmora a sign-in, but no sign-in was started from Velmora's "
              "menu in the system tray. Sign in only if you have just signed in on the Velmora "
              "page yourself.");
    EXPECT_EQ(h.test.alerts.shown[0].request.buttons,
              (std::vector<std::string>{"Sign In", "Cancel"}));
    EXPECT_FALSE(account().isAuthenticated() || account().authToken() || h.test.secrets.token());
    EXPECT_TRUE(h.log.contains("Sign-in from the browser declined."));
    expectNoLineContains("planted");

    // A menu sign-in opens a ten-minute window for its callback; once it has passed, or the
    // callback has come, the next one is asked about again.
    h.choose("Sign in");
    h.run(SignIn::kCallbackWindow + std::chrono::seconds(1));
    deliver("velmora://auth/callback?token=late");
    expectNotices({question, question, "Signed In"});
    EXPECT_EQ(h.test.secrets.token(), "late");
    h.delegate().signInAction();
    h.run(SignIn::kCallbackWindow - std::chrono::seconds(1));
    deliver("velmora://auth/callback?token=mine");
    deliver("velmora://auth/callback?token=again");
    expectNotices({question, question, "Signed In", "Signed In", question, "Signed In"});
    EXPECT_EQ(h.test.secrets.token(), "again");
}

TEST_F(SignInTest, CallbacksWithoutATokenValueLeaveTheStateAlone) {
    h.launch();
    const std::vector<const char*> urls = {
        "velmora://auth/callback", "velmora://auth/callback?state=1",
        "velmora://auth/callback?token",
        "velmora://auth/callback?token=", "velmora://auth/callback?token=&token=late"};
    for (const char* url : urls) {
        deliver(std::string(url));
    }
    EXPECT_FALSE(account().isAuthenticated() || account().authToken());
    EXPECT_TRUE(h.test.secrets.secrets.empty());
    EXPECT_EQ(h.test.alerts.titles(), std::vector<std::string>(urls.size(), "Sign-In Error"));
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Authentication was incomplete. No token received.");
    EXPECT_EQ(h.test.alerts.shown[0].request.style, AlertStyle::Warning);
    EXPECT_TRUE(
        h.log.contains("Error: Authentication callback received, but no token found in URL."));
    expectNoLineContains("late");
}

TEST_F(SignInTest, ForeignOrUnparsableUrlsOnlyLog) {
    h.launch();
    h.log.clear();
    for (const char* url :
         {"velmora://login/callback?token=abc", "velmora://auth/other?token=abc",
          "o+t.h-r://auth/callback?token=abc", "velmora://AUTH/callback?token=abc",
          "velmora:auth/callback?token=abc"}) {
        deliver(std::string(url));
    }
    deliver(std::nullopt);
    deliver(std::string("not a url"));
    deliver(std::string("velmora://auth/callback?token=%41%zz"));
    deliver(std::string("1velmora://auth/callback?token=abc"));
    deliver(std::string("velmora://auth/callback?token=abc%4"));
    ASSERT_EQ(h.log.lines().size(), 10u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(h.log.lines()[i].starts_with("Received URL: ")) << h.log.lines()[i];
    }
    EXPECT_EQ(h.log.lines()[6], "Error: Could not parse URL from AppleEvent");
    EXPECT_EQ(h.log.lines()[7], "Error: Could not parse URL from AppleEvent");
    EXPECT_EQ(h.log.lines()[8], "Error: Could not parse URL from AppleEvent");
    EXPECT_EQ(h.log.lines()[9], "Error: Could not parse URL from AppleEvent");
    expectNoLineContains("abc");
    expectNotices({});
    EXPECT_FALSE(account().isAuthenticated());
}

TEST_F(SignInTest, AStoreRefusingTheSaveKeepsThePreviousState) {
    h.launchSignedIn("old");
    h.delegate().signInAction();
    h.test.secrets.forced["replace"] = {SecretStatus::Unavailable, ""};
    deliver("velmora://auth/callback?token=n3wtok");
    EXPECT_TRUE(h.log.contains("Error: Failed to save token to Keychain."));
    EXPECT_EQ(account().authToken(), "old");
    EXPECT_EQ(h.test.secrets.token(), "old");
    expectNoLineContains("n3wtok");
    ASSERT_EQ(h.test.alerts.titles(), std::vector<std::string>{"Sign-In Error"});
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Could not securely store your session. Please try again.");
    EXPECT_EQ(h.test.alerts.shown[0].request.style, AlertStyle::Critical);
}

TEST_F(SignInTest, SignOutClearsEverythingWhateverTheStoreSays) {
    h.launchSignedIn("tok");
    h.log.clear();
    h.choose("Sign out");
    EXPECT_TRUE(h.statusItem().find("Sign in"));
    EXPECT_FALSE(account().isAuthenticated() || account().authToken() || h.test.secrets.token());
    EXPECT_EQ(h.test.defaults.values.at("isUserAuthenticated"),
              testing::FakeDefaults::Value(false));
    EXPECT_EQ(h.log.lines(),
              (std::vector<std::string>{"Signing out...",
                                        "Keychain: Token deleted successfully (or was not found).",
                                        "Token successfully deleted from Keychain.",
                                        "Saved authentication flag to UserDefaults: false"}));
    expectNotices({"Signed Out"});
    EXPECT_EQ(h.test.alerts.shown[0].request.message, "You have been signed out.");

    h.test.secrets.forced["remove"] = {SecretStatus::Refused, ""};
    h.signIn("tok");
    h.choose("Sign out");
    EXPECT_TRUE(
        h.log.contains("Failed to delete token from Keychain, but proceeding with sign out."));
    EXPECT_FALSE(account().isSignedIn());
    expectNotices({"Signed Out", "Signed In", "Signed Out"});
}

}  // namespace
}  // namespace velmora
