#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

using platform::AlertStyle;
using platform::Keystroke;
using Formats = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kChat = "https://api.test/api/chat";

// The workflow's fixed delays.
constexpr auto kKeyUpToCompletion = 50ms;
constexpr auto kCopyCompletionToRead = 150ms;
constexpr auto kFirstFrame = 500ms;
constexpr auto kPasteCompletionToRestore = 100ms;
constexpr auto kTakenToRestore = 100ms;
constexpr auto kPastePatience = 3s;

// A signed-in application whose focused application has "selected text" selected, and whose
// clipboard holds text and an image.
class RewriteWorkflowTest : public ::testing::Test {
  protected:
    void SetUp() override { d.clipboard = {earlier, {}}; }

    AppDelegate& app() { return h.delegate(); }
    std::vector<std::size_t> chats() const { return t.http.to(kChat); }
    nlohmann::json sent() const {
        return nlohmann::json::parse(*t.http.requests.at(chats().back())->request.body);
    }
    void trigger(platform::MainQueue::Duration thenRun = 300ms) {
        d.press();
        h.run(thenRun);
    }
    void respond(int status, const std::string& body, platform::MainQueue::Duration thenRun = 1s) {
        t.http.respond(chats().back(), status, body);
        h.run(thenRun);
    }
    // A rewrite whose answer is "rewritten", up to the paste keystroke.
    void answer(const std::string& text = "rewritten") {
        trigger();
        respond(200, R"({"response":")" + text + R"("})", 0ms);
    }
    void expectAlert(std::size_t i, const char* title, const std::string& text, AlertStyle style) {
        ASSERT_LT(i, t.alerts.shown.size());
        EXPECT_EQ(t.alerts.shown[i].request.title, title);
        EXPECT_EQ(t.alerts.shown[i].request.message, text);
        EXPECT_EQ(t.alerts.shown[i].request.style, style);
    }

    testing::AppHarness h;
    testing::TestPlatform& t = h.test;
    testing::FakeDesktop& d = t.desktop;
    const Formats earlier{{"text/plain", "earlier"}, {"image/png", "PNG"}};
};

TEST_F(RewriteWorkflowTest, SuccessfulRewriteFollowsItsTimeline) {
    h.launchSignedIn("tok");
    app().setWritingStyle("concise");
    h.log.clear();

    ASSERT_TRUE(d.press());
    EXPECT_TRUE(d.typed.empty()) << "the copy waits for a later turn, the panel first";
    h.run();
    EXPECT_EQ(t.windows.panel->content.message, "Velmoraing...");
    EXPECT_EQ(t.windows.panel->content.symbol, "sparkles");
    EXPECT_EQ(t.http.prepared, std::vector<std::string>{kChat}) << "warmed at the press";
    ASSERT_EQ(d.typed.size(), 1u);
    EXPECT_EQ(d.typed[0].first, Keystroke::Copy);
    const auto copied = d.typed[0].second;

    // Read 0.05 s + 0.15 s after the copy; the first frame 0.5 s after sending, not before.
    t.queue.advanceTo(copied + kKeyUpToCompletion + kCopyCompletionToRead - 1ms);
    EXPECT_TRUE(chats().empty());
    h.run(1ms);
    ASSERT_EQ(chats().size(), 1u);
    const auto sentAt = t.queue.now();
    const std::size_t icons = h.statusItem().images.size();
    t.queue.advanceTo(sentAt + kFirstFrame - 1ms);
    EXPECT_EQ(h.statusItem().images.size(), icons);
    h.run(1ms);
    EXPECT_EQ(h.statusItem().images.back(), "circle.dotted");
    h.run(2 * kFirstFrame);
    EXPECT_EQ(h.statusItem().images.back(), "circle.dotted.circle.fill");

    EXPECT_EQ(t.http.requests[chats()[0]]->request.method, "POST");
    EXPECT_EQ(sent()["prompt"], "selected text");
    const std::string concise =
        "Rewrite this text to be more concise. Remove unnecessary words and make it shorter "
        "while keeping all important information.";
    EXPECT_EQ(sent()["user_instructions"], concise);

    t.http.respond(chats()[0], 200, R"({"response":" rewritten\n"})");
    h.run();
    EXPECT_EQ(h.statusItem().images.back(), "AppIcon");
    ASSERT_EQ(d.typed.size(), 2u);
    EXPECT_EQ(d.typed[1].first, Keystroke::Paste);
    EXPECT_EQ(d.pasted, std::vector<std::string>{"rewritten"});
    // The application took the answer at once: the clipboard comes back 0.1 s after the paste's
    // completion, and no sooner.
    const auto restoreAt = d.typed[1].second + kKeyUpToCompletion + kPasteCompletionToRestore;
    t.queue.advanceTo(restoreAt - 1ms);
    EXPECT_EQ(d.text(), "rewritten");
    h.run(1ms);
    EXPECT_EQ(d.clipboard.formats, earlier);
    h.run(300ms);
    EXPECT_FALSE(t.windows.panel->onScreen);
    EXPECT_TRUE(t.alerts.shown.empty());
    EXPECT_EQ(d.consentRequests, 1) << "asked at launch, never during a rewrite";
    EXPECT_EQ(
        h.log.lines(),
        (std::vector<std::string>{
            "HotkeyManager: Carbon hotkey triggered!", "AppDelegate: hotkeyTriggered called",
            "Copied text (13 chars). Processing...",
            "Calling Local Proxy with Provider: google, Model: "
            "gemini-2.5-flash-preview-05-20...",
            "Using user_instructions: " + concise,
            "Payload provider: google, model: gemini-2.5-flash-preview-05-20",
            "Successfully received AI response (9 chars).", "AI Response placed on pasteboard.",
            "Processing complete. Pasteboard restored."}));
}

// The earlier clipboard comes back once the application has read the answer, however long it
// takes, within bounds; what someone else puts on the clipboard meanwhile stays.
TEST_F(RewriteWorkflowTest, TheClipboardComesBackOnceTheApplicationHasTakenTheAnswer) {
    h.launchSignedIn();
    d.readsPasteAfter = 1s;  // a busy application
    answer();
    h.run(1s + kTakenToRestore - 1ms);
    EXPECT_EQ(d.pasted, std::vector<std::string>{"rewritten"});
    EXPECT_EQ(d.text(), "rewritten");
    h.run(1ms);
    EXPECT_EQ(d.clipboard.formats, earlier);

    d.readsPasteAfter = 20s;  // it asks the user first; the user answers after 20 s
    d.confirmsPaste = true;
    answer("second");
    h.run(20s);
    EXPECT_EQ(d.pasted.back(), "second");
    h.run(1s);
    EXPECT_EQ(d.clipboard.formats, earlier);

    d.readsPasteAfter.reset();  // it never reads: the clipboard comes back after a few seconds
    d.confirmsPaste = false;
    answer("third");
    h.run(kPastePatience - 1ms);
    EXPECT_EQ(d.text(), "third");
    h.run(1ms);
    EXPECT_EQ(d.clipboard.formats, earlier);
    EXPECT_TRUE(h.log.contains("The application did not take the pasted text in time."));

    answer("fourth");
    d.copyElsewhere("copied by the user");
    h.run(5s);
    EXPECT_EQ(d.text(), "copied by the user");
    answer("fifth");  // ...and it is what the next rewrite gives back
    h.run(kPastePatience);
    EXPECT_EQ(d.text(), "copied by the user");
    EXPECT_TRUE(t.alerts.shown.empty());
}

TEST_F(RewriteWorkflowTest, SecondTriggerCancelsWhileCopyingAndWhileWaiting) {
    h.launchSignedIn();
    trigger(100ms);
    trigger(500ms);
    EXPECT_TRUE(h.log.contains("Aborting current text processing..."));
    EXPECT_TRUE(h.log.contains("Processing was cancelled during copy operation."));
    EXPECT_TRUE(chats().empty());
    EXPECT_EQ(d.clipboard.formats, earlier);
    expectAlert(0, "Processing Cancelled", "Previous text processing was cancelled.",
                AlertStyle::Informational);

    trigger(800ms);  // the third trigger starts a new rewrite
    EXPECT_EQ(h.statusItem().images.back(), "circle.dotted");
    trigger(1s);
    EXPECT_TRUE(t.http.requests[chats()[0]]->cancelled);
    EXPECT_EQ(h.statusItem().images.back(), "AppIcon");
    EXPECT_FALSE(t.windows.panel->onScreen);
    EXPECT_EQ(d.clipboard.formats, earlier);
    EXPECT_EQ(t.alerts.titles(),
              (std::vector<std::string>{"Processing Cancelled", "Processing Cancelled"}));
    EXPECT_EQ(d.typed.size(), 2u) << "two copies, no paste";
}

// Presses quicker than the copy wait: each step belongs to its run, so only the last run sends a
// request, and the next press cancels that very request.
TEST_F(RewriteWorkflowTest, QuickPressesSendOneRequestWhichTheNextPressCancels) {
    h.launchSignedIn();
    for (int press = 0; press < 3; ++press) {
        trigger(50ms);
    }
    h.run(1s);
    ASSERT_EQ(chats().size(), 1u);
    trigger();
    EXPECT_TRUE(t.http.requests[chats()[0]]->cancelled);
    EXPECT_EQ(d.clipboard.formats, earlier);
    EXPECT_EQ(t.alerts.titles(),
              (std::vector<std::string>{"Processing Cancelled", "Processing Cancelled"}));
}

// A request the transport gives up as cancelled on its own ends quietly, the clipboard back.
TEST_F(RewriteWorkflowTest, ARequestCancelledUnderneathEndsQuietly) {
    h.launchSignedIn();
    trigger();
    t.http.requests[chats()[0]]->completion(platform::HttpError{true, "cancelled"});
    h.run(1s);
    EXPECT_TRUE(h.log.contains("API request was cancelled."));
    EXPECT_TRUE(t.alerts.shown.empty());
    EXPECT_EQ(d.clipboard.formats, earlier);
}

TEST_F(RewriteWorkflowTest, AnAnswerArrivingWithTheCancellingPressIsDropped) {
    h.launchSignedIn();
    trigger();
    // The answer arrives while the press that cancels waits to run.
    d.press();
    t.http.respond(chats()[0], 200, R"({"response":"late answer"})");
    h.run(1s);
    EXPECT_TRUE(h.log.contains("Aborting current text processing..."));
    EXPECT_TRUE(d.pasted.empty());
    EXPECT_EQ(d.clipboard.formats, earlier);
    EXPECT_FALSE(app().isProcessingText());
}

TEST_F(RewriteWorkflowTest, NothingSelectedSendsNothing) {
    h.launchSignedIn();
    d.selection.reset();
    trigger(1s);
    EXPECT_TRUE(chats().empty()) << "the earlier clipboard text is not the selection";
    EXPECT_TRUE(h.log.contains("Failed to copy text or no text selected."));
    expectAlert(0, "No Text Selected",
                "Could not detect any selected text to process. Please select text and try again.",
                AlertStyle::Warning);
    EXPECT_EQ(d.clipboard.formats, earlier);
    EXPECT_FALSE(t.windows.panel->onScreen);

    d.clipboard = {};
    trigger(1s);
    EXPECT_TRUE(d.clipboard.empty()) << "an empty clipboard ends empty";

    // A terminal with nothing selected gets no copy keys at all.
    d.terminal = true;
    d.clipboard = {earlier, {}};
    trigger(1s);
    EXPECT_EQ(d.typed.size(), 2u);
    EXPECT_TRUE(chats().empty());
    EXPECT_EQ(t.alerts.titles().back(), "No Text Selected");
    EXPECT_EQ(d.clipboard.formats, earlier);
}

TEST_F(RewriteWorkflowTest, AnswersThatCannotBePastedRestoreTheClipboard) {
    h.launchSignedIn();
    // An answer is an answer whatever words it holds.
    trigger();
    respond(200, R"({"response":"the order was cancelled"})");
    EXPECT_EQ(d.pasted, std::vector<std::string>{"the order was cancelled"});
    d.pasted.clear();

    trigger();
    respond(200, R"({"response":"  \n "})");
    expectAlert(0, "Processing Error", "Failed to process text. [Error: Empty Response]",
                AlertStyle::Critical);

    std::optional<std::string> whileNoticeShows;
    t.alerts.whileShown = [&] { whileNoticeShows = d.text(); };
    trigger();
    respond(500, "token 401");
    EXPECT_EQ(whileNoticeShows, "earlier") << "the clipboard is back before the notice";
    expectAlert(1, "Processing Error",
                "Failed to process text. [Error: HTTP 500] - Details: token 401",
                AlertStyle::Critical);
    EXPECT_TRUE(d.pasted.empty());
    EXPECT_EQ(d.clipboard.formats, earlier);
    EXPECT_TRUE(app().account().isSignedIn());
}

TEST_F(RewriteWorkflowTest, AFailedPasteLeavesTheAnswerOnTheClipboard) {
    h.launchSignedIn();
    trigger();
    d.refusesKeys = "The remote control session has ended.";
    respond(200, R"({"response":"rewritten"})", 10s);
    EXPECT_TRUE(d.pasted.empty());
    EXPECT_EQ(d.text(), "rewritten");
    expectAlert(0, "Paste Failed",
                "Velmora could not paste the rewritten text. The remote control session has "
                "ended.\n\nThe answer is on the clipboard; paste it with Ctrl+V.",
                AlertStyle::Warning);
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
    EXPECT_FALSE(app().account().isAuthenticated() || app().account().authToken() ||
                 t.secrets.token());
    expectAlert(0, "Authentication Error",
                "Your session has expired or is invalid. Please sign in again.",
                AlertStyle::Informational);
    EXPECT_EQ(t.alerts.shown.size(), 1u);
    // The menu follows the sign-out at once.
    EXPECT_TRUE(h.statusItem().find("Sign in"));
    EXPECT_EQ(d.clipboard.formats, earlier);

    // A store that refuses the delete still ends signed out.
    h.signIn("tok");
    ASSERT_TRUE(app().account().isSignedIn());
    t.secrets.forced["remove"] = {platform::SecretStatus::Refused, "locked"};
    trigger();
    respond(401, "");
    EXPECT_TRUE(
        h.log.contains("Warning: Failed to delete invalid token from Keychain after API "
                       "auth error. Proceeding with local sign out."));
    EXPECT_FALSE(app().account().isSignedIn());
}

TEST_F(RewriteWorkflowTest, RefusalsChangeNothing) {
    h.launch();
    trigger();
    EXPECT_TRUE(
        h.log.contains("User not authenticated or token missing. Process text action ignored."));
    expectAlert(0, "Not Signed In", "Please sign in to use this feature.",
                AlertStyle::Informational);

    h.signIn("tok");
    d.keystrokePermission = platform::Capability::no("Velmora needs an X11 display.");
    trigger();
    EXPECT_TRUE(h.log.contains("Accessibility permissions not granted. Cannot proceed."));
    expectAlert(2, "Permissions Required", "Velmora needs an X11 display.", AlertStyle::Warning);
    EXPECT_TRUE(d.typed.empty());
    EXPECT_EQ(t.windows.panel, nullptr);
    EXPECT_EQ(d.clipboard.formats, earlier);
}

TEST_F(RewriteWorkflowTest, PressesWhileANoticeIsOpenAreDropped) {
    h.launch();
    t.alerts.whileShown = [this] { d.press(); };
    trigger();  // signed out: a notice, and a press while it is open
    t.alerts.whileShown = nullptr;
    h.run(1s);
    EXPECT_TRUE(h.log.contains("HotkeyManager: ignored, a Velmora notice or dialog is open."));
    EXPECT_EQ(t.alerts.titles(), std::vector<std::string>{"Not Signed In"});
}

TEST_F(RewriteWorkflowTest, ARewriteStartedWhileTheLastOneRestoresKeepsTheUsersClipboard) {
    h.launchSignedIn();
    trigger();
    t.http.respond(chats()[0], 200, R"({"response":"first"})");
    h.run(110ms);  // pasted; its restore is still to come
    ASSERT_EQ(d.pasted, std::vector<std::string>{"first"});
    d.selection = "second selection";
    trigger();
    respond(200, R"({"response":"second"})");
    EXPECT_EQ(d.pasted, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(sent()["prompt"], "second selection");
    EXPECT_EQ(d.clipboard.formats, earlier);
}

TEST_F(RewriteWorkflowTest, TerminatingDuringARewriteStopsItAndGivesTheClipboardBack) {
    h.launchSignedIn();
    trigger(800ms);
    h.app.willTerminate();
    EXPECT_EQ(d.clipboard.formats, earlier) << "at once: the queue runs no more after this";
    EXPECT_TRUE(t.http.requests[chats()[0]]->cancelled);
    EXPECT_EQ(h.statusItem().images.back(), "AppIcon");
    const std::size_t icons = h.statusItem().images.size();
    h.run(2s);
    EXPECT_FALSE(t.windows.panel->onScreen);
    for (std::size_t i = icons; i < h.statusItem().images.size(); ++i) {
        EXPECT_EQ(h.statusItem().images[i], "AppIcon") << "no animation frame after termination";
    }
    EXPECT_FALSE(d.bound) << "the shortcut is unbound";
}

}  // namespace
}  // namespace velmora
