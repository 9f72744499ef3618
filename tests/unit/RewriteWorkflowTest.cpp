#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::AlertStyle;
using Formats = std::vector<std::pair<std::string, std::string>>;
constexpr std::uint64_t kCmd = platform::eventFlagMaskCommand;

// A signed-in application whose focused "application" copies its selection on Command-C and
// records what it would paste on Command-V. The clipboard starts with text and an image.
class RewriteWorkflowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        t.keyEvents.onPost = [this](const platform::KeyEvent& e) {
            if (!e.keyDown && e.flags == kCmd && e.keyCode == 8 && selection) {
                t.clipboard.setText(*selection);
            } else if (!e.keyDown && e.flags == kCmd && e.keyCode == 9) {
                pastes.push_back(t.clipboard.text().value_or(""));
            }
        };
        t.clipboard.contents.formats = earlier;
    }
    AppDelegate& app() { return h.delegate(); }
    // Indexes of the chat requests (the update check may add others).
    std::vector<std::size_t> chats() const {
        std::vector<std::size_t> found;
        for (std::size_t i = 0; i < t.http.requests.size(); ++i) {
            if (t.http.requests[i]->request.url == "https://api.test/api/chat")
                found.push_back(i);
        }
        return found;
    }
    std::string sentPrompt() const {
        return nlohmann::json::parse(*t.http.requests[chats().back()]->request.body)["prompt"];
    }
    void trigger(double thenAdvance = 0.3) {
        app().hotkeyTriggered();
        t.queue.advance(thenAdvance);
    }
    void respond(int status, const std::string& body) {
        t.http.respond(chats().back(), status, body);
        t.queue.advance(1.0);
    }
    void expectAlert(std::size_t i, const char* title, const std::string& text, AlertStyle style) {
        ASSERT_LT(i, t.alerts.shown.size());
        EXPECT_EQ(t.alerts.shown[i].request.messageText, title);
        EXPECT_EQ(t.alerts.shown[i].request.informativeText, text);
        EXPECT_EQ(t.alerts.shown[i].request.style, style);
    }
    std::size_t keysPosted() const { return t.keyEvents.posted.size(); }

    testing::AppHarness h;
    testing::TestPlatform& t = h.test;
    const Formats earlier{{testing::TestClipboard::kTextFormat, "earlier"}, {"image/png", "PNG"}};
    std::optional<std::string> selection = "selected text";
    std::vector<std::string> pastes;
};

TEST_F(RewriteWorkflowTest, SuccessfulRewriteFollowsItsTimeline) {
    h.launchSignedIn("tok");
    app().setWritingStyle("concise");
    const std::size_t icons = h.statusItem().images.size();
    h.log.clear();

    app().hotkeyTriggered();
    EXPECT_EQ(keysPosted(), 0u) << "the copy is queued, HUD first";
    t.queue.runUntilIdle();
    EXPECT_EQ(t.panel()->contents.back().message, "Velmoraing...");
    EXPECT_EQ(t.panel()->contents.back().systemImage, "sparkles");
    ASSERT_EQ(keysPosted(), 2u);
    const double copyUp = t.keyEvents.posted[1].time;
    EXPECT_NEAR(copyUp - t.keyEvents.posted[0].time, 0.01, 1e-9);

    // Read 0.05 s + 0.15 s after the copy key-up; first frame 0.5 s after sending, not before.
    t.queue.advance(copyUp + 0.195 - t.queue.now());
    EXPECT_TRUE(chats().empty());
    t.queue.advance(0.01 + 0.49);
    ASSERT_EQ(chats().size(), 1u);
    EXPECT_EQ(h.statusItem().images.size(), icons);
    t.queue.advance(0.01);
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted");
    EXPECT_EQ(h.statusItem().image->accessibilityDescription, "Processing...");
    t.queue.advance(1.0);
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted.circle.fill");

    const auto body = nlohmann::json::parse(*t.http.requests[0]->request.body);
    EXPECT_EQ(body["prompt"], "selected text");
    EXPECT_EQ(body["user_instructions"],
              "Rewrite this text to be more concise. Remove unnecessary words and make it shorter "
              "while keeping all important information.");

    t.http.respond(0, 200, R"({"response":" rewritten\n"})");
    t.queue.runUntilIdle();
    EXPECT_EQ(h.statusItem().image->name, "AppIcon");
    ASSERT_EQ(keysPosted(), 4u);
    EXPECT_EQ(t.keyEvents.posted[3].event.keyCode, 9);
    EXPECT_EQ(pastes, std::vector<std::string>{"rewritten"});
    // The restore comes 0.1 s after the paste completion, 0.15 s after the paste key-up.
    t.queue.advance(t.keyEvents.posted[3].time + 0.145 - t.queue.now());
    EXPECT_EQ(t.clipboard.text(), "rewritten");
    t.queue.advance(0.01);
    EXPECT_EQ(t.clipboard.contents.formats, earlier);
    t.queue.advance(0.3);
    EXPECT_FALSE(t.panel()->onScreen);
    EXPECT_TRUE(t.alerts.shown.empty());
    EXPECT_EQ(
        h.log.lines(),
        (std::vector<std::string>{
            "AppDelegate: hotkeyTriggered called", "Copied text (13 chars). Processing...",
            "Calling Local Proxy with Provider: google, Model: "
            "gemini-2.5-flash-preview-05-20...",
            "Using user_instructions: " + body["user_instructions"].get<std::string>(),
            "Payload provider: google, model: gemini-2.5-flash-preview-05-20",
            "Successfully received AI response (9 chars).", "AI Response placed on pasteboard.",
            "Processing complete. Pasteboard restored."}));
}

TEST_F(RewriteWorkflowTest, SecondTriggerCancelsWhileCopyingAndWhileWaiting) {
    h.launchSignedIn();
    trigger(0.1);
    trigger(0.5);
    EXPECT_TRUE(h.log.contains("Aborting current text processing..."));
    EXPECT_TRUE(h.log.contains("Processing was cancelled during copy operation."));
    EXPECT_TRUE(chats().empty());
    EXPECT_EQ(t.clipboard.contents.formats, earlier);
    expectAlert(0, "Processing Cancelled", "Previous text processing was cancelled.",
                AlertStyle::Informational);

    trigger(0.8);  // third trigger: a new rewrite, animating
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted");
    trigger(1.0);
    EXPECT_TRUE(t.http.requests[chats()[0]]->cancelled);
    EXPECT_TRUE(h.log.contains("API request was cancelled."));
    EXPECT_EQ(h.statusItem().image->name, "AppIcon");
    EXPECT_FALSE(t.panel()->onScreen);
    // The cancelled result's own restore leaves what the abort put back.
    EXPECT_EQ(t.clipboard.contents.formats, earlier);
    EXPECT_EQ(t.alerts.titles(),
              (std::vector<std::string>{"Processing Cancelled", "Processing Cancelled"}));
    EXPECT_EQ(keysPosted(), 4u);
}

TEST_F(RewriteWorkflowTest, TheCopyDecidesTheSelection) {
    h.launchSignedIn();
    selection.reset();
    trigger();
    EXPECT_EQ(sentPrompt(), "earlier") << "text already on the clipboard is taken";

    t.queue.advance(1.0);
    t.http.respond(chats().back(), 200, R"({"response":"x"})");
    t.queue.advance(1.0);
    t.clipboard.clear();
    trigger(1.0);
    EXPECT_TRUE(h.log.contains("Failed to copy text or no text selected."));
    EXPECT_EQ(chats().size(), 1u);
    EXPECT_TRUE(t.clipboard.contents.empty());
    EXPECT_FALSE(t.panel()->onScreen);
    expectAlert(0, "No Text Selected",
                "Could not detect any selected text to process. Please select text and try again.",
                AlertStyle::Warning);
}

TEST_F(RewriteWorkflowTest, ResultsThatAreNotAnswersRestoreTheClipboard) {
    h.launchSignedIn();
    trigger();
    respond(200, R"({"response":"the order was cancelled"})");
    EXPECT_TRUE(h.log.contains("API request was cancelled."));
    EXPECT_TRUE(t.alerts.shown.empty());

    trigger();
    respond(500, "oops");
    expectAlert(0, "Processing Error", "Failed to process text. [Error: HTTP 500] - Details: oops",
                AlertStyle::Critical);
    EXPECT_TRUE(pastes.empty());
    EXPECT_EQ(t.clipboard.contents.formats, earlier);
    EXPECT_TRUE(app().isSignedIn());
}

TEST_F(RewriteWorkflowTest, AuthenticationFailureSignsOut) {
    h.launchSignedIn();
    ASSERT_TRUE(h.statusItem().find("Sign out"));
    trigger();
    h.log.clear();
    respond(403, "{}");
    EXPECT_EQ(h.log.lines(),
              (std::vector<std::string>{
                  "Error: Authentication error (403).",
                  "Error received from AI call: [Error: Authentication Failed (403)]",
                  "API returned authentication error. Signing out user.",
                  "Keychain: Token deleted successfully (or was not found).",
                  "Invalid token successfully deleted from Keychain due to API auth error.",
                  "Saved authentication flag to UserDefaults: false"}));
    EXPECT_FALSE(app().isAuthenticated() || app().authToken() || t.keychain.storedToken());
    expectAlert(0, "Authentication Error",
                "Your session has expired or is invalid. Please sign in again.",
                AlertStyle::Informational);
    EXPECT_EQ(t.alerts.shown.size(), 1u);
    // The menu follows the sign-out at once instead of offering "Sign out" until the next
    // rebuild.
    EXPECT_TRUE(h.statusItem().find("Sign in"));
    EXPECT_FALSE(h.statusItem().find("Sign out"));
    EXPECT_EQ(t.clipboard.contents.formats, earlier);

    // A keychain that refuses the delete still ends signed out.
    app().setAccountStateForTesting(true, "tok");
    t.keychain.forcedStatus["remove"] = -25293;
    trigger();
    respond(401, "");
    EXPECT_TRUE(
        h.log.contains("Warning: Failed to delete invalid token from Keychain after API "
                       "auth error. Proceeding with local sign out."));
    EXPECT_FALSE(app().isSignedIn());
}

TEST_F(RewriteWorkflowTest, RefusalsChangeNothing) {
    h.launch();
    trigger();
    app().setAccountStateForTesting(true, std::nullopt);
    trigger();
    EXPECT_TRUE(
        h.log.contains("User not authenticated or token missing. Process text action ignored."));
    expectAlert(0, "Not Signed In", "Please sign in to use this feature.",
                AlertStyle::Informational);
    expectAlert(1, "Authentication Error",
                "Session token is missing. Please try signing out and in again.",
                AlertStyle::Warning);

    app().setAccountStateForTesting(true, "tok");
    t.accessibility.trusted = false;
    trigger();
    EXPECT_TRUE(h.log.contains("Accessibility permissions not granted. Cannot proceed."));
    EXPECT_EQ(t.alerts.titles().back(), "Permissions Required");
    EXPECT_EQ(keysPosted(), 0u);
    EXPECT_EQ(t.panel(), nullptr);
    EXPECT_EQ(t.clipboard.contents.formats, earlier);
    EXPECT_FALSE(app().isProcessingText());
}

TEST_F(RewriteWorkflowTest, TerminatingDuringARewriteStopsIt) {
    h.launchSignedIn();
    trigger(0.8);
    h.app.willTerminate();
    EXPECT_TRUE(t.http.requests[chats()[0]]->cancelled);
    EXPECT_EQ(h.statusItem().image->name, "AppIcon");
    EXPECT_EQ(t.clipboard.text(), "selected text") << "the clipboard is left as it is";
    const std::size_t icons = h.statusItem().images.size();
    t.queue.advance(2.0);
    EXPECT_FALSE(t.panel()->onScreen);
    EXPECT_EQ(h.statusItem().images.back().name, "AppIcon");
    EXPECT_LE(h.statusItem().images.size(), icons + 1) << "no animation frame after termination";
}

}  // namespace
}  // namespace velmora
