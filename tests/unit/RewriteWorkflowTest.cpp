#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::AlertStyle;
using platform::eventFlagMaskCommand;

constexpr std::uint16_t kC = 8;
constexpr std::uint16_t kV = 9;
constexpr const char* kPng = "image/png";
constexpr const char* kConcise =
    "Rewrite this text to be more concise. Remove unnecessary words and make it shorter while "
    "keeping all important information.";

// A signed-in application whose focused "application" copies its selection on Command-C and
// records what it would paste on Command-V.
class RewriteWorkflowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test().keyEvents.onPost = [this](const platform::KeyEvent& event) {
            if (event.keyDown || event.flags != eventFlagMaskCommand) {
                return;
            }
            if (event.keyCode == kC && selection) {
                test().clipboard.setText(*selection);
            } else if (event.keyCode == kV) {
                pastes.push_back(test().clipboard.text().value_or("<none>"));
            }
        };
    }

    testing::TestPlatform& test() { return h.test; }
    AppDelegate& app() { return h.delegate(); }

    void putOnClipboard(const std::string& text, bool withImage = false) {
        test().clipboard.setText(text);
        if (withImage) {
            test().clipboard.contents.formats.emplace_back(kPng, "\x89PNG-bytes");
        }
    }

    // Requests to the chat endpoint, in order (the update check may add others).
    std::vector<std::size_t> chatRequests() const {
        std::vector<std::size_t> found;
        const auto& requests = h.test.http.requests;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            if (requests[i]->request.url == "https://api.test/api/chat") {
                found.push_back(i);
            }
        }
        return found;
    }

    // Triggers and runs until the request is out.
    void triggerAndWaitForRequest() {
        app().hotkeyTriggered();
        test().queue.advance(0.3);
        ASSERT_FALSE(chatRequests().empty());
    }

    void respond(int status, const std::string& body) {
        test().http.respond(chatRequests().back(), status, body);
        test().queue.runUntilIdle();
    }

    std::vector<std::uint16_t> postedKeyCodes() const {
        std::vector<std::uint16_t> codes;
        for (const auto& posted : h.test.keyEvents.posted) {
            codes.push_back(posted.event.keyCode);
        }
        return codes;
    }

    testing::AppHarness h;
    std::optional<std::string> selection = "selected text";
    std::vector<std::string> pastes;
};

TEST_F(RewriteWorkflowTest, SuccessfulRewriteFollowsItsTimeline) {
    h.launchSignedIn("tok");
    app().setWritingStyle("concise");
    putOnClipboard("earlier", true);
    const platform::ClipboardSnapshot before = test().clipboard.contents;
    const std::size_t iconsAtStart = h.statusItem().images.size();
    h.log.clear();

    app().hotkeyTriggered();
    EXPECT_TRUE(app().isProcessingText());
    EXPECT_TRUE(test().keyEvents.posted.empty()) << "the copy keystroke is queued, not posted";
    test().queue.runUntilIdle();

    // HUD first, then the copy: key-down, 10 ms on the main thread, key-up, both Command only.
    ASSERT_NE(test().panel(), nullptr);
    EXPECT_EQ(test().panel()->contents.back().message, "Velmoraing...");
    EXPECT_EQ(test().panel()->contents.back().systemImage, "sparkles");
    ASSERT_EQ(test().keyEvents.posted.size(), 2u);
    const auto& down = test().keyEvents.posted[0];
    const auto& up = test().keyEvents.posted[1];
    EXPECT_TRUE(down.event.keyDown);
    EXPECT_FALSE(up.event.keyDown);
    EXPECT_EQ(down.event.keyCode, kC);
    EXPECT_EQ(down.event.flags, eventFlagMaskCommand);
    EXPECT_EQ(up.event.flags, eventFlagMaskCommand);
    EXPECT_NEAR(up.time - down.time, 0.01, 1e-9);

    // Completion 0.05 s after the key-up, the read 0.15 s after that.
    test().queue.advance(up.time + 0.195 - test().queue.now());
    EXPECT_TRUE(chatRequests().empty());
    test().queue.advance(0.01);
    ASSERT_EQ(chatRequests().size(), 1u);
    const double sentAt = up.time + 0.2;

    const auto& request = test().http.requests[chatRequests()[0]]->request;
    EXPECT_EQ(request.method, "POST");
    const auto body = nlohmann::json::parse(request.body.value());
    EXPECT_EQ(body["prompt"], "selected text");
    EXPECT_EQ(body["provider"], "google");
    EXPECT_EQ(body["model"], "gemini-2.5-flash-preview-05-20");
    EXPECT_EQ(body["user_instructions"], kConcise);
    EXPECT_NE(std::find(request.headers.begin(), request.headers.end(),
                        std::pair<std::string, std::string>("Authorization", "Bearer tok")),
              request.headers.end());

    // First frame 0.5 s after the request, not before; then every 0.5 s.
    test().queue.advance(sentAt + 0.495 - test().queue.now());
    EXPECT_EQ(h.statusItem().images.size(), iconsAtStart);
    test().queue.advance(0.01);
    ASSERT_EQ(h.statusItem().images.size(), iconsAtStart + 1);
    EXPECT_EQ(h.statusItem().image->kind, platform::StatusImage::Kind::Symbol);
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted");
    EXPECT_EQ(h.statusItem().image->accessibilityDescription, "Processing...");
    test().queue.advance(0.5);
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted.circle");
    test().queue.advance(0.5);
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted.circle.fill");
    test().queue.advance(0.5);
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted");
    EXPECT_EQ(app().animationStep(), 4);

    respond(200, R"({"response":"  rewritten \n"})");
    EXPECT_FALSE(app().isProcessingText());
    EXPECT_EQ(h.statusItem().image->name, "AppIcon");
    ASSERT_EQ(test().keyEvents.posted.size(), 4u);
    EXPECT_EQ(test().keyEvents.posted[2].event.keyCode, kV);
    EXPECT_EQ(test().keyEvents.posted[3].event.flags, eventFlagMaskCommand);
    EXPECT_EQ(pastes, std::vector<std::string>{"rewritten"});

    // The restore: 0.1 s after the paste completion, which is 0.05 s after the paste key-up.
    const double pasteUp = test().keyEvents.posted[3].time;
    EXPECT_NEAR(pasteUp - test().keyEvents.posted[2].time, 0.01, 1e-9);
    test().queue.advance(pasteUp + 0.145 - test().queue.now());
    EXPECT_EQ(test().clipboard.text(), "rewritten");
    test().queue.advance(0.01);
    EXPECT_EQ(test().clipboard.contents, before);
    EXPECT_FALSE(app().originalPasteboardContent().has_value());

    test().queue.advance(0.5);
    EXPECT_FALSE(test().panel()->onScreen);
    EXPECT_TRUE(test().alerts.shown.empty());
    EXPECT_EQ(h.log.lines(), (std::vector<std::string>{
                                 "AppDelegate: hotkeyTriggered called",
                                 "Copied text (13 chars). Processing...",
                                 "Calling Local Proxy with Provider: google, Model: "
                                 "gemini-2.5-flash-preview-05-20...",
                                 std::string("Using user_instructions: ") + kConcise,
                                 "Payload provider: google, model: gemini-2.5-flash-preview-05-20",
                                 "Successfully received AI response (9 chars).",
                                 "AI Response placed on pasteboard.",
                                 "Processing complete. Pasteboard restored.",
                             }));
}

TEST_F(RewriteWorkflowTest, SecondTriggerWhileCopyingCancelsAndTheThirdStartsAnew) {
    h.launchSignedIn();
    putOnClipboard("earlier");
    app().hotkeyTriggered();
    test().queue.runUntilIdle();
    EXPECT_EQ(test().clipboard.text(), "selected text");

    app().hotkeyTriggered();
    EXPECT_FALSE(app().isProcessingText());
    test().queue.runUntilIdle();
    EXPECT_TRUE(h.log.contains("Aborting current text processing..."));
    EXPECT_EQ(test().clipboard.text(), "earlier");
    ASSERT_EQ(test().alerts.shown.size(), 1u);
    EXPECT_EQ(test().alerts.shown[0].request.messageText, "Processing Cancelled");
    EXPECT_EQ(test().alerts.shown[0].request.informativeText,
              "Previous text processing was cancelled.");
    EXPECT_EQ(test().alerts.shown[0].request.style, AlertStyle::Informational);

    test().queue.advance(0.5);
    EXPECT_TRUE(h.log.contains("Processing was cancelled during copy operation."));
    EXPECT_TRUE(chatRequests().empty());
    EXPECT_EQ(test().clipboard.text(), "earlier");
    EXPECT_FALSE(test().panel()->onScreen);

    triggerAndWaitForRequest();
    EXPECT_EQ(chatRequests().size(), 1u);
    EXPECT_EQ(postedKeyCodes(), (std::vector<std::uint16_t>{kC, kC, kC, kC}));
}

// Mend: the cancelled request reporting back must not empty the clipboard the abort put back.
TEST_F(RewriteWorkflowTest, SecondTriggerWhileWaitingCancelsAndTheLateResultDoesNoHarm) {
    h.launchSignedIn();
    putOnClipboard("earlier", true);
    const platform::ClipboardSnapshot before = test().clipboard.contents;
    triggerAndWaitForRequest();
    test().queue.advance(0.6);
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted");

    app().hotkeyTriggered();
    EXPECT_TRUE(test().http.requests[chatRequests()[0]]->cancelled);
    EXPECT_EQ(h.statusItem().image->name, "AppIcon");
    test().queue.advance(1.0);

    EXPECT_TRUE(h.log.contains("API request was cancelled."));
    EXPECT_EQ(test().clipboard.contents, before);
    EXPECT_EQ(test().alerts.titles(), std::vector<std::string>{"Processing Cancelled"});
    EXPECT_EQ(postedKeyCodes(), (std::vector<std::uint16_t>{kC, kC}));
    EXPECT_EQ(h.statusItem().image->name, "AppIcon") << "the animation stopped";
    EXPECT_FALSE(test().panel()->onScreen);

    triggerAndWaitForRequest();
    EXPECT_EQ(chatRequests().size(), 2u);
    respond(200, R"({"response":"second"})");
    test().queue.advance(0.5);
    EXPECT_EQ(pastes, std::vector<std::string>{"second"});
    EXPECT_EQ(test().clipboard.contents, before);
}

TEST_F(RewriteWorkflowTest, WhatTheCopyFindsDecidesTheSelection) {
    h.launchSignedIn();
    selection.reset();

    // Nothing selected and nothing on the clipboard.
    app().hotkeyTriggered();
    test().queue.advance(1.0);
    EXPECT_TRUE(h.log.contains("Failed to copy text or no text selected."));
    EXPECT_FALSE(app().isProcessingText());
    EXPECT_TRUE(chatRequests().empty());
    EXPECT_TRUE(test().clipboard.contents.empty());
    EXPECT_FALSE(test().panel()->onScreen);
    ASSERT_EQ(test().alerts.shown.size(), 1u);
    EXPECT_EQ(test().alerts.shown[0].request.messageText, "No Text Selected");
    EXPECT_EQ(test().alerts.shown[0].request.informativeText,
              "Could not detect any selected text to process. Please select text and try again.");
    EXPECT_EQ(test().alerts.shown[0].request.style, AlertStyle::Warning);

    // An empty text counts as none; blanks count as text.
    putOnClipboard("");
    app().hotkeyTriggered();
    test().queue.advance(1.0);
    EXPECT_EQ(test().alerts.shown.size(), 2u);
    EXPECT_TRUE(chatRequests().empty());
    EXPECT_EQ(test().clipboard.text(), "");

    // Nothing selected, but text already on the clipboard: that text is sent.
    putOnClipboard("  ");
    triggerAndWaitForRequest();
    EXPECT_EQ(nlohmann::json::parse(test().http.last().request.body.value())["prompt"], "  ");
    EXPECT_TRUE(h.log.contains("Copied text (2 chars). Processing..."));
}

TEST_F(RewriteWorkflowTest, ResultContainingCancelledIsNotPasted) {
    h.launchSignedIn();
    putOnClipboard("earlier");
    const std::size_t iconsAtStart = h.statusItem().images.size();
    triggerAndWaitForRequest();
    respond(200, R"({"response":"the order was cancelled"})");
    test().queue.advance(1.0);

    EXPECT_TRUE(h.log.contains("API request was cancelled."));
    EXPECT_FALSE(h.log.contains("AI Response placed on pasteboard."));
    EXPECT_EQ(postedKeyCodes(), (std::vector<std::uint16_t>{kC, kC}));
    EXPECT_EQ(test().clipboard.text(), "earlier");
    EXPECT_TRUE(test().alerts.shown.empty());
    // Answered before the first frame: the icon never animated, only the idle icon was reset.
    for (std::size_t i = iconsAtStart; i < h.statusItem().images.size(); ++i) {
        EXPECT_EQ(h.statusItem().images[i].name, "AppIcon");
    }
}

TEST_F(RewriteWorkflowTest, AuthenticationFailureSignsOut) {
    h.launchSignedIn();
    putOnClipboard("earlier");
    triggerAndWaitForRequest();
    h.log.clear();
    respond(403, R"({"error":"expired"})");
    test().queue.advance(1.0);

    EXPECT_EQ(h.log.lines(),
              (std::vector<std::string>{
                  "Error: Authentication error (403).",
                  "Error received from AI call: [Error: Authentication Failed (403)]",
                  "API returned authentication error. Signing out user.",
                  "Keychain: Token deleted successfully (or was not found).",
                  "Invalid token successfully deleted from Keychain due to API auth error.",
                  "Saved authentication flag to UserDefaults: false",
              }));
    EXPECT_FALSE(app().isAuthenticated());
    EXPECT_FALSE(app().authToken().has_value());
    EXPECT_FALSE(test().keychain.storedToken().has_value());
    EXPECT_EQ(test().defaults.values.at("isUserAuthenticated"),
              testing::TestDefaults::Value(false));
    ASSERT_EQ(test().alerts.shown.size(), 1u);
    EXPECT_EQ(test().alerts.shown[0].request.messageText, "Authentication Error");
    EXPECT_EQ(test().alerts.shown[0].request.informativeText,
              "Your session has expired or is invalid. Please sign in again.");
    EXPECT_EQ(test().alerts.shown[0].request.style, AlertStyle::Informational);
    EXPECT_EQ(test().clipboard.text(), "earlier");
    EXPECT_EQ(postedKeyCodes(), (std::vector<std::uint16_t>{kC, kC}));

    // Signed out now: the next trigger is refused.
    app().hotkeyTriggered();
    test().queue.runUntilIdle();
    EXPECT_EQ(test().alerts.titles().back(), "Not Signed In");
}

TEST_F(RewriteWorkflowTest, AuthenticationFailureStillSignsOutWhenTheKeychainRefuses) {
    h.launchSignedIn();
    triggerAndWaitForRequest();
    test().keychain.forcedStatus["remove"] = -25293;
    respond(401, "");
    test().queue.advance(1.0);

    EXPECT_TRUE(
        h.log.contains("Warning: Failed to delete invalid token from Keychain after API auth "
                       "error. Proceeding with local sign out."));
    EXPECT_FALSE(app().isSignedIn());
    EXPECT_EQ(test().alerts.titles(), std::vector<std::string>{"Authentication Error"});
}

TEST_F(RewriteWorkflowTest, OtherErrorsRaiseProcessingError) {
    h.launchSignedIn();
    putOnClipboard("earlier", true);
    const platform::ClipboardSnapshot before = test().clipboard.contents;
    triggerAndWaitForRequest();
    respond(500, "oops");
    test().queue.advance(1.0);

    EXPECT_TRUE(h.log.contains("Error received from AI call: [Error: HTTP 500] - Details: oops"));
    ASSERT_EQ(test().alerts.shown.size(), 1u);
    EXPECT_EQ(test().alerts.shown[0].request.messageText, "Processing Error");
    EXPECT_EQ(test().alerts.shown[0].request.informativeText,
              "Failed to process text. [Error: HTTP 500] - Details: oops");
    EXPECT_EQ(test().alerts.shown[0].request.style, AlertStyle::Critical);
    EXPECT_EQ(test().clipboard.contents, before);
    EXPECT_TRUE(app().isSignedIn());
    EXPECT_FALSE(app().isProcessingText());
}

TEST_F(RewriteWorkflowTest, RefusesWithoutAnAccount) {
    h.launch();
    putOnClipboard("earlier");
    app().hotkeyTriggered();
    test().queue.advance(1.0);
    EXPECT_TRUE(
        h.log.contains("User not authenticated or token missing. Process text action ignored."));
    ASSERT_EQ(test().alerts.shown.size(), 1u);
    EXPECT_EQ(test().alerts.shown[0].request.messageText, "Not Signed In");
    EXPECT_EQ(test().alerts.shown[0].request.informativeText,
              "Please sign in to use this feature.");
    EXPECT_EQ(test().alerts.shown[0].request.style, AlertStyle::Informational);

    app().setAccountStateForTesting(true, std::nullopt);
    app().hotkeyTriggered();
    test().queue.advance(1.0);
    ASSERT_EQ(test().alerts.shown.size(), 2u);
    EXPECT_EQ(test().alerts.shown[1].request.messageText, "Authentication Error");
    EXPECT_EQ(test().alerts.shown[1].request.informativeText,
              "Session token is missing. Please try signing out and in again.");
    EXPECT_EQ(test().alerts.shown[1].request.style, AlertStyle::Warning);

    // Neither refusal touched anything; an empty token is a token and goes ahead.
    EXPECT_TRUE(test().keyEvents.posted.empty());
    EXPECT_EQ(test().panel(), nullptr);
    EXPECT_EQ(test().clipboard.text(), "earlier");
    app().setAccountStateForTesting(true, "");
    triggerAndWaitForRequest();
    EXPECT_EQ(nlohmann::json::parse(test().http.last().request.body.value())["prompt"],
              "selected text");
}

TEST_F(RewriteWorkflowTest, RefusesWithoutAccessibilityPermission) {
    h.launchSignedIn();
    putOnClipboard("earlier");
    test().accessibility.trusted = false;
    test().alerts.script.push_back({platform::alertFirstButtonReturn, std::nullopt});
    app().hotkeyTriggered();
    EXPECT_FALSE(app().isProcessingText());
    test().queue.advance(1.0);

    EXPECT_TRUE(h.log.contains("Accessibility permissions not granted. Cannot proceed."));
    EXPECT_EQ(test().alerts.titles(), std::vector<std::string>{"Permissions Required"});
    EXPECT_EQ(test().workspace.opened,
              std::vector<std::string>{
                  "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"});
    EXPECT_TRUE(test().keyEvents.posted.empty());
    EXPECT_EQ(test().panel(), nullptr);
    EXPECT_EQ(test().clipboard.text(), "earlier");
}

TEST_F(RewriteWorkflowTest, TerminatingDuringARewriteStopsIt) {
    h.launchSignedIn();
    putOnClipboard("earlier");
    triggerAndWaitForRequest();
    test().queue.advance(0.6);
    EXPECT_EQ(h.statusItem().image->name, "circle.dotted");

    h.app.willTerminate();
    EXPECT_TRUE(test().http.requests[chatRequests()[0]]->cancelled);
    EXPECT_EQ(h.statusItem().image->name, "AppIcon");
    EXPECT_EQ(test().clipboard.text(), "selected text") << "the clipboard is left as it is";
    EXPECT_TRUE(test().panel()->onScreen);

    const std::size_t icons = h.statusItem().images.size();
    test().queue.advance(0.4);
    EXPECT_FALSE(test().panel()->onScreen);
    test().queue.advance(2.0);
    for (std::size_t i = icons; i < h.statusItem().images.size(); ++i) {
        EXPECT_EQ(h.statusItem().images[i].name, "AppIcon") << "no frame after termination";
    }
}

}  // namespace
}  // namespace velmora
