#include <gtest/gtest.h>

#include "settings/Catalog.h"
#include "settings/Preferences.h"
#include "settings/SettingsManager.h"
#include "settings/SettingsText.h"
#include "settings/WritingStyles.h"
#include "support/AppHarness.h"

namespace velmora {
namespace {

using testing::FakeDefaults;
using testing::LogCapture;

const std::string kDefault = "gemini-2.5-flash-preview-05-20";

TEST(SettingsManager, ModelFallbacks) {
    struct Case {
        const char* name;
        std::vector<AIProvider> providers;
        std::optional<std::string> stored;
        std::string expected;
        std::vector<std::string> lines;
    };
    const std::string critical =
        "CRITICAL WARNING: Default model " + kDefault + " is not valid in providers structure. ";
    const std::vector<Case> cases = {
        {"first run", builtInProviders(), std::nullopt, kDefault, {}},
        {"stored name no longer listed (names are case-sensitive)",
         builtInProviders(),
         "Gemini-2.5-flash-preview-05-20",
         kDefault,
         {"Stored model 'Gemini-2.5-flash-preview-05-20' is invalid. Using default: " + kDefault}},
        {"catalog without the default, value stored",
         {AIProvider{"A", "a", std::nullopt, {"m1", "m2"}},
          AIProvider{"B", "b", std::nullopt, {"m3"}}},
         "gone",
         "m1",
         {"Stored model 'gone' is invalid. Using default: m1", critical + "Falling back to m1"}},
        {"only the first provider is looked at",
         {AIProvider{"A", "a", std::nullopt, {}}, AIProvider{"B", "b", std::nullopt, {"m3"}}},
         std::nullopt,
         "",
         {critical + "Falling back to "}},
        {"empty catalog",
         {},
         "x",
         "",
         {"Stored model 'x' is invalid. Using default: ", critical + "Falling back to "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDefaults defaults;
        if (c.stored) {
            defaults.values["selectedProxyModel"] = *c.stored;
        }
        LogCapture log;
        SettingsManager settings(defaults, c.providers, kDefault);
        EXPECT_EQ(settings.loadSelectedModel(), c.expected);
        EXPECT_EQ(log.lines(), c.lines);
        EXPECT_EQ(defaults.stringForKey("selectedProxyModel"), c.expected);
    }
}

TEST(WritingStyles, InstructionsAndLabels) {
    const std::optional<std::string> custom = "Principal engineer tone";
    EXPECT_EQ(styleInstruction("concise", custom),
              "Rewrite this text to be more concise. Remove unnecessary words and make it shorter "
              "while keeping all important information.");
    EXPECT_EQ(styleInstruction("informal", custom),
              "Rewrite this text in an informal writing style. Keep the meaning the same but make "
              "it more casual and conversational.");
    EXPECT_EQ(styleInstruction("casual", std::nullopt),
              "Rewrite this text in a casual writing style. Make it relaxed and friendly while "
              "preserving the original meaning.");
    EXPECT_EQ(styleInstruction("custom", custom), custom);
    EXPECT_EQ(styleInstruction("custom", std::nullopt), std::nullopt);
    EXPECT_EQ(styleInstruction("Concise", custom), custom);  // keys are case-sensitive
    EXPECT_EQ(styleInstruction("custom", "   "), "   ");

    EXPECT_EQ(styleLabel("informal", std::nullopt), "Informal");
    EXPECT_EQ(styleLabel("casual", std::nullopt), "Casual");
    EXPECT_EQ(styleLabel("concise", custom), "Concise");
    EXPECT_EQ(styleLabel("custom", "   "), "Custom");
    EXPECT_EQ(styleLabel("custom", ""), "Default");
    EXPECT_EQ(styleLabel("custom", std::nullopt), "Default");
    EXPECT_EQ(styleLabel("formal", custom), "Default");
}

TEST(Preferences, ChoicesAreStoredAndLogged) {
    testing::AppHarness h;
    AppDelegate& app = h.launch();
    h.log.clear();
    app.setWritingStyle("informal");
    app.selectModel(kDefault);
    app.selectModel("gpt-9");
    EXPECT_EQ(h.log.lines(), (std::vector<std::string>{
                                 "Saved writing style: informal",
                                 "Writing style selected: informal",
                                 "Saved model: " + kDefault,
                                 "Model selected: " + kDefault,
                                 "Error: Attempted to select invalid model name: gpt-9",
                             }));
    EXPECT_EQ(h.test.defaults.stringForKey("selectedWritingStyle"), "informal");
    EXPECT_EQ(app.preferences().selectedModel(), kDefault);
    EXPECT_TRUE(h.test.alerts.shown.empty()) << "queued, not shown inside the call";
    h.run();
    ASSERT_EQ(h.test.alerts.shown.size(), 1u);
    EXPECT_EQ(h.test.alerts.shown[0].request.title, "Error");
    EXPECT_EQ(h.test.alerts.shown[0].request.message, "The selected model 'gpt-9' is not valid.");
    EXPECT_EQ(h.test.alerts.shown[0].request.style, platform::AlertStyle::Warning);
}

TEST(SettingsText, MendsOnlyTheLinesThatAreNotText) {
    EXPECT_FALSE(repairSettingsText("[General]\na=café\n"));
    static const char kDamaged[] = "[General]\n b  \t=caf\xE9\nc=x\0y\nd=ok\ne=\x80";
    const auto mended = repairSettingsText(std::string_view(kDamaged, sizeof kDamaged - 1));
    ASSERT_TRUE(mended);
    EXPECT_EQ(mended->text, "[General]\n b  \t=café\nc=xy\nd=ok\ne=\xC2\x80");
    EXPECT_EQ(mended->keys, (std::vector<std::string>{"b", "c", "e"}));
}

}  // namespace
}  // namespace velmora
