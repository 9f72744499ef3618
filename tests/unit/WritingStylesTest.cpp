#include <gtest/gtest.h>

#include "settings/WritingStyles.h"
#include "support/AppHarness.h"

namespace velmora {
namespace {

const std::string kConcise =
    "Rewrite this text to be more concise. Remove unnecessary words and make it shorter while "
    "keeping all important information.";

TEST(WritingStyles, InstructionsAndLabels) {
    const std::optional<std::string> custom = "Principal engineer tone";
    EXPECT_EQ(styleInstruction("concise", custom), kConcise);
    EXPECT_EQ(styleInstruction("informal", custom),
              "Rewrite this text in an informal writing style. Keep the meaning the same but make "
              "it more casual and conversational.");
    EXPECT_EQ(styleInstruction("casual", std::nullopt),
              "Rewrite this text in a casual writing style. Make it relaxed and friendly while "
              "preserving the original meaning.");
    EXPECT_EQ(styleInstruction("custom", custom), custom);
    EXPECT_EQ(styleInstruction("custom", std::nullopt), std::nullopt);
    EXPECT_EQ(styleInstruction("Concise", custom), custom);  // keys are case-sensitive
    EXPECT_EQ(styleInstruction("formal", custom), custom);
    EXPECT_EQ(styleInstruction("custom", "   "), "   ");

    EXPECT_EQ(styleLabel("informal", std::nullopt), "Informal");
    EXPECT_EQ(styleLabel("casual", std::nullopt), "Casual");
    EXPECT_EQ(styleLabel("concise", custom), "Concise");
    EXPECT_EQ(styleLabel("custom", custom), "Custom");
    EXPECT_EQ(styleLabel("custom", "   "), "Custom");
    EXPECT_EQ(styleLabel("custom", ""), "Default");
    EXPECT_EQ(styleLabel("custom", std::nullopt), "Default");
    EXPECT_EQ(styleLabel("formal", custom), "Default");
}

TEST(WritingStyles, SetWritingStylePersistsAndLogsInOrder) {
    testing::AppHarness harness;
    AppDelegate& app = harness.launch();
    harness.log.clear();

    app.setWritingStyle("informal");
    EXPECT_EQ(app.currentWritingStyle(), "informal");
    EXPECT_EQ(harness.test.defaults.stringForKey("selectedWritingStyle"), "informal");
    EXPECT_EQ(harness.log.lines(), (std::vector<std::string>{"Saved writing style: informal",
                                                             "Writing style selected: informal"}));

    // Any key is accepted and stored as given.
    app.setWritingStyle("formal");
    EXPECT_EQ(harness.test.defaults.stringForKey("selectedWritingStyle"), "formal");
}

TEST(ModelSelection, ValidNameIsStoredAndLogged) {
    testing::AppHarness harness;
    AppDelegate& app = harness.launch();
    harness.test.defaults.removeObject("selectedProxyModel");
    harness.log.clear();

    app.selectModel("gemini-2.5-flash-preview-05-20");
    EXPECT_EQ(harness.log.lines(),
              (std::vector<std::string>{"Saved model: gemini-2.5-flash-preview-05-20",
                                        "Model selected: gemini-2.5-flash-preview-05-20"}));
    EXPECT_EQ(harness.test.defaults.stringForKey("selectedProxyModel"),
              "gemini-2.5-flash-preview-05-20");
}

TEST(ModelSelection, InvalidNameIsRejectedWithAWarning) {
    testing::AppHarness harness;
    AppDelegate& app = harness.launch();
    harness.log.clear();
    harness.test.defaults.writes.clear();

    app.selectModel("gpt-9");
    EXPECT_EQ(harness.log.lines(),
              (std::vector<std::string>{"Error: Attempted to select invalid model name: gpt-9"}));
    EXPECT_TRUE(harness.test.defaults.writes.empty());
    EXPECT_EQ(app.selectedModel(), "gemini-2.5-flash-preview-05-20");
    EXPECT_TRUE(harness.test.alerts.shown.empty());  // queued, not shown inside the call

    harness.test.queue.runUntilIdle();
    ASSERT_EQ(harness.test.alerts.shown.size(), 1u);
    const auto& alert = harness.test.alerts.shown[0].request;
    EXPECT_EQ(alert.messageText, "Error");
    EXPECT_EQ(alert.informativeText, "The selected model 'gpt-9' is not valid.");
    EXPECT_EQ(alert.style, platform::AlertStyle::Warning);
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
}

TEST(MenuManager, ForwardsOnlyWhenSignedInAndGivenText) {
    testing::AppHarness harness;
    AppDelegate& app = harness.launch();
    MenuManager& menu = *app.menuManager();
    harness.log.clear();

    platform::MenuItem item;
    item.representedObject = "gemini-2.5-flash-preview-05-20";
    menu.selectModel(item);  // signed out: nothing at all
    EXPECT_TRUE(harness.log.lines().empty());

    app.setAccountStateForTesting(true, "token");
    platform::MenuItem noText;
    menu.selectModel(noText);
    EXPECT_TRUE(harness.log.lines().empty());

    menu.selectModel(item);
    EXPECT_TRUE(harness.log.contains("Model selected: gemini-2.5-flash-preview-05-20"));

    menu.selectConciseStyle(item);  // styles only select; the menu is not rebuilt
    EXPECT_EQ(app.currentWritingStyle(), "concise");
}

}  // namespace
}  // namespace velmora
