#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::AlertStyle;
using testing::AppHarness;

constexpr const char* kInstructionsMessage =
    "Enter custom instructions for the AI (e.g., 'Principal Software Engineer, be cutting...'). "
    "This will be sent as 'user_instructions'. Leave empty for default behavior.";

TEST(Dialogs, InputDialogIsQueuedAndAnswersWithTheTextOnlyOnOk) {
    AppHarness harness;
    harness.launch();
    std::vector<std::optional<std::string>> answers;
    auto record = [&answers](const std::optional<std::string>& text) { answers.push_back(text); };

    harness.test.alerts.script.push_back({platform::alertFirstButtonReturn, "typed"});
    harness.test.alerts.script.push_back({platform::alertSecondButtonReturn, "ignored"});
    harness.test.alerts.script.push_back({platform::alertFirstButtonReturn, ""});
    harness.delegate().showInputDialog("Title", "Message", "initial", record);
    harness.delegate().showInputDialog("Title", "Message", "", record);
    harness.delegate().showInputDialog("Title", "Message", "x", record);
    EXPECT_TRUE(harness.test.alerts.shown.empty());
    EXPECT_TRUE(answers.empty());

    harness.test.queue.runUntilIdle();
    ASSERT_EQ(harness.test.alerts.shown.size(), 3u);
    const auto& request = harness.test.alerts.shown[0].request;
    EXPECT_EQ(request.messageText, "Title");
    EXPECT_EQ(request.informativeText, "Message");
    EXPECT_EQ(request.style, AlertStyle::Informational);
    EXPECT_EQ(request.buttons, (std::vector<std::string>{"OK", "Cancel"}));
    EXPECT_EQ(request.textAccessoryInitialText, "initial");
    EXPECT_EQ(harness.test.alerts.shown[1].request.textAccessoryInitialText, "");
    EXPECT_EQ(answers, (std::vector<std::optional<std::string>>{"typed", std::nullopt, ""}));
}

TEST(Dialogs, CustomInstructionsAreStoredAsTypedAndEmptyClearsThem) {
    AppHarness harness;
    harness.test.defaults.values["customAIInstructions"] = std::string("old text");
    harness.test.defaults.values["selectedWritingStyle"] = std::string("casual");
    harness.launch();
    const int menusBefore = harness.statusItem().menusSet;

    harness.test.alerts.script.push_back({platform::alertFirstButtonReturn, "  \n"});
    harness.delegate().showCustomInstructionsInput();
    harness.test.queue.runUntilIdle();
    ASSERT_EQ(harness.test.alerts.shown.size(), 2u);
    const auto& dialog = harness.test.alerts.shown[0].request;
    EXPECT_EQ(dialog.messageText, "Writing Style");
    EXPECT_EQ(dialog.informativeText, kInstructionsMessage);
    EXPECT_EQ(dialog.textAccessoryInitialText, "old text");
    EXPECT_EQ(harness.delegate().customInstructions(), "  \n");
    EXPECT_EQ(std::get<std::string>(harness.test.defaults.values["customAIInstructions"]), "  \n");
    EXPECT_EQ(harness.delegate().currentWritingStyle(), "casual") << "the style is not touched";
    EXPECT_EQ(harness.statusItem().menusSet, menusBefore + 1);
    const auto& saved = harness.test.alerts.shown[1].request;
    EXPECT_EQ(saved.messageText, "Writing Style Saved");
    EXPECT_EQ(saved.informativeText, "Writing style instructions have been updated.");
    EXPECT_EQ(saved.style, AlertStyle::Informational);

    harness.test.alerts.script.push_back({platform::alertFirstButtonReturn, ""});
    harness.delegate().showCustomInstructionsInput();
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.alerts.shown[2].request.textAccessoryInitialText, "  \n");
    EXPECT_FALSE(harness.delegate().customInstructions().has_value());
    EXPECT_FALSE(harness.test.defaults.contains("customAIInstructions"));
    EXPECT_EQ(harness.test.alerts.shown[3].request.messageText, "Writing Style Saved");
    EXPECT_EQ(harness.statusItem().menusSet, menusBefore + 2);

    // Absent instructions open an empty field; Cancel changes nothing and shows nothing more.
    harness.log.clear();
    harness.test.alerts.script.push_back({platform::alertSecondButtonReturn, "discarded"});
    harness.delegate().showCustomInstructionsInput();
    harness.test.queue.runUntilIdle();
    ASSERT_EQ(harness.test.alerts.shown.size(), 5u);
    EXPECT_EQ(harness.test.alerts.shown[4].request.textAccessoryInitialText, "");
    EXPECT_EQ(harness.log.lines(), std::vector<std::string>{"Writing style input cancelled."});
    EXPECT_FALSE(harness.delegate().customInstructions().has_value());
    EXPECT_EQ(harness.statusItem().menusSet, menusBefore + 2);
}

TEST(Dialogs, AboutShowsTheLabelAndShortcutOfTheMomentItWasMade) {
    AppHarness harness;
    harness.launch();
    const std::string shortcut = harness.delegate().hotkeyManager()->shortcutDisplayString();

    ASSERT_TRUE(harness.statusItem().choose("About Velmora"));  // "custom", no instructions
    harness.delegate().selectConciseStyleFromStatusBar();       // before the dialog runs
    harness.delegate().showAboutInfo();
    harness.test.queue.runUntilIdle();

    ASSERT_EQ(harness.test.alerts.shown.size(), 2u);
    const auto& about = harness.test.alerts.shown[0].request;
    EXPECT_EQ(about.messageText, "About Velmora");
    EXPECT_EQ(about.informativeText, "Velmora\n\nCurrent style: Default\nShortcut: " + shortcut);
    EXPECT_EQ(about.style, AlertStyle::Informational);
    EXPECT_EQ(about.buttons, (std::vector<std::string>{"Visit Website", "Privacy Policy", "OK"}));
    EXPECT_EQ(about.textAccessoryInitialText, std::nullopt);
    EXPECT_EQ(harness.test.alerts.shown[1].request.informativeText,
              "Velmora\n\nCurrent style: Concise\nShortcut: " + shortcut);
}

TEST(Dialogs, AboutButtonsOpenTheWebsiteAndPrivacyPageOnly) {
    AppHarness harness;
    harness.test.defaults.values["customAIInstructions"] = std::string("Own words");
    harness.launch();
    const ServiceEndpoints& endpoints = harness.delegate().endpoints();
    for (int button : {platform::alertFirstButtonReturn, platform::alertSecondButtonReturn,
                       platform::alertThirdButtonReturn}) {
        harness.test.alerts.script.push_back({button, std::nullopt});
        harness.delegate().showAboutInfo();
    }
    EXPECT_TRUE(harness.test.workspace.opened.empty());
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.workspace.opened,
              (std::vector<std::string>{endpoints.website, endpoints.privacyPage}));
    EXPECT_EQ(endpoints.privacyPage, endpoints.website + "/privacy");
    EXPECT_EQ(harness.test.alerts.shown[0].request.informativeText.substr(0, 31),
              "Velmora\n\nCurrent style: Custom\n");

    // An address that is not a URL makes its button do nothing.
    testing::TestPlatform test;
    MendwellApp app(test.platform, test.hud,
                    ServiceEndpoints::forHosts({"api.test", "download.test", "bad host"}));
    app.didFinishLaunching();
    test.queue.runUntilIdle();
    test.alerts.script.push_back({platform::alertFirstButtonReturn, std::nullopt});
    test.alerts.script.push_back({platform::alertSecondButtonReturn, std::nullopt});
    app.appDelegate->showAboutInfo();
    app.appDelegate->showAboutInfo();
    test.queue.runUntilIdle();
    EXPECT_EQ(test.alerts.shown.size(), 2u);
    EXPECT_TRUE(test.workspace.opened.empty());
}

TEST(Dialogs, ResetClearsTheInstructionsWithoutTouchingStyleOrMenu) {
    AppHarness harness;
    harness.test.defaults.values["customAIInstructions"] = std::string("Own words");
    harness.test.defaults.values["selectedWritingStyle"] = std::string("custom");
    harness.launch();
    const int menusBefore = harness.statusItem().menusSet;

    harness.delegate().resetCustomInstructions();
    EXPECT_FALSE(harness.delegate().customInstructions().has_value());
    EXPECT_FALSE(harness.test.defaults.contains("customAIInstructions"));
    EXPECT_EQ(harness.delegate().currentWritingStyle(), "custom");
    EXPECT_EQ(harness.statusItem().menusSet, menusBefore);
    EXPECT_TRUE(harness.test.alerts.shown.empty());
    harness.test.queue.runUntilIdle();
    ASSERT_EQ(harness.test.alerts.shown.size(), 1u);
    EXPECT_EQ(harness.test.alerts.shown[0].request.messageText, "Writing Style Reset");
    EXPECT_EQ(harness.test.alerts.shown[0].request.informativeText,
              "Writing style instructions have been reset.");
}

TEST(Notices, NoticesRaisedInOneTurnAppearInOrderAfterTheCaller) {
    AppHarness harness;
    harness.launch();
    harness.delegate().showAlert("First", "one", AlertStyle::Warning);
    harness.delegate().showAlert("Second", "two", AlertStyle::Critical);
    EXPECT_TRUE(harness.test.alerts.shown.empty());
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(harness.test.alerts.titles(), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(harness.test.alerts.shown[1].request.style, AlertStyle::Critical);
    EXPECT_EQ(harness.test.alerts.shown[1].request.buttons, std::vector<std::string>{"OK"});
}

}  // namespace
}  // namespace velmora
