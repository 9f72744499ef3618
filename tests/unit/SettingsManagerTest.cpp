#include <gtest/gtest.h>

#include "settings/Catalog.h"
#include "settings/SettingsManager.h"
#include "support/TestPlatform.h"

namespace velmora {
namespace {

using testing::LogCapture;
using testing::TestDefaults;

const std::string kDefault = "gemini-2.5-flash-preview-05-20";

TEST(SettingsManager, FirstRunStoresTheDefaultModelSilently) {
    TestDefaults defaults;
    LogCapture log;
    SettingsManager settings(defaults, builtInProviders(), kDefault);

    EXPECT_EQ(settings.loadSelectedModel(), kDefault);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(defaults.stringForKey("selectedProxyModel"), kDefault);
}

TEST(SettingsManager, ValidStoredModelIsReturnedWithoutAWrite) {
    TestDefaults defaults;
    defaults.values["selectedProxyModel"] = kDefault;
    LogCapture log;
    SettingsManager settings(defaults, builtInProviders(), kDefault);

    EXPECT_EQ(settings.loadSelectedModel(), kDefault);
    EXPECT_TRUE(defaults.writes.empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST(SettingsManager, ModelFallbacks) {
    struct Case {
        const char* name;
        std::vector<AIProvider> providers;
        std::optional<std::string> stored;
        std::string expected;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"stored name no longer listed",
         builtInProviders(),
         "gpt-old",
         kDefault,
         {"Stored model 'gpt-old' is invalid. Using default: " + kDefault}},
        {"catalog without the default, value stored",
         {AIProvider{"A", "a", std::nullopt, {"m1", "m2"}},
          AIProvider{"B", "b", std::nullopt, {"m3"}}},
         "gone",
         "m1",
         {"Stored model 'gone' is invalid. Using default: m1",
          "CRITICAL WARNING: Default model " + kDefault +
              " is not valid in providers structure. Falling back to m1"}},
        {"catalog without the default, nothing stored",
         {AIProvider{"A", "a", std::nullopt, {"m1"}}},
         std::nullopt,
         "m1",
         {"CRITICAL WARNING: Default model " + kDefault +
          " is not valid in providers structure. Falling back to m1"}},
        {"only the first provider is looked at",
         {AIProvider{"A", "a", std::nullopt, {}}, AIProvider{"B", "b", std::nullopt, {"m3"}}},
         std::nullopt,
         "",
         {"CRITICAL WARNING: Default model " + kDefault +
          " is not valid in providers structure. Falling back to "}},
        {"empty catalog",
         {},
         "x",
         "",
         {"Stored model 'x' is invalid. Using default: ",
          "CRITICAL WARNING: Default model " + kDefault +
              " is not valid in providers structure. Falling back to "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDefaults defaults;
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

TEST(SettingsManager, IsValidModelIsExactAndCaseSensitive) {
    TestDefaults defaults;
    SettingsManager settings(defaults, builtInProviders(), kDefault);
    EXPECT_TRUE(settings.isValidModel(kDefault));
    EXPECT_FALSE(settings.isValidModel(std::nullopt));
    EXPECT_FALSE(settings.isValidModel(""));
    EXPECT_FALSE(settings.isValidModel("Gemini-2.5-flash-preview-05-20"));
    EXPECT_FALSE(settings.isValidModel(kDefault + " "));

    SettingsManager empty(defaults, {}, kDefault);
    EXPECT_FALSE(empty.isValidModel(kDefault));
}

TEST(SettingsManager, SavesWriteThroughAndLog) {
    TestDefaults defaults;
    LogCapture log;
    SettingsManager settings(defaults, builtInProviders(), kDefault);

    settings.saveCustomInstructions("  be brief  ");
    EXPECT_EQ(settings.loadCustomInstructions(), "  be brief  ");
    settings.saveCustomInstructions("");
    EXPECT_EQ(settings.loadCustomInstructions(), std::nullopt);
    settings.saveCustomInstructions("x");
    settings.saveCustomInstructions(std::nullopt);
    EXPECT_FALSE(defaults.contains("customAIInstructions"));

    EXPECT_EQ(settings.loadWritingStyle(), "custom");
    settings.saveWritingStyle("concise");
    EXPECT_EQ(settings.loadWritingStyle(), "concise");

    settings.saveAuthenticationFlag(true);
    EXPECT_TRUE(defaults.boolForKey("isUserAuthenticated"));
    settings.saveSelectedModel("anything");

    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "Saved custom instructions. Current:   be brief  ",
                               "Saved custom instructions. Current: ",
                               "Saved custom instructions. Current: x",
                               "Saved custom instructions. Current: Using default",
                               "Saved writing style: concise",
                               "Saved authentication flag to UserDefaults: true",
                               "Saved model: anything",
                           }));
}

TEST(Catalog, ProviderForModel) {
    const auto providers = builtInProviders();
    ASSERT_EQ(providers.size(), 1u);
    EXPECT_EQ(providers[0], (AIProvider{"Google", "google", "g.circle.fill", {kDefault}}));

    EXPECT_EQ(providerForModel(providers, kDefault)->slug, "google");
    EXPECT_FALSE(providerForModel(providers, "unknown"));
    EXPECT_FALSE(providerForModel(providers, ""));

    const std::vector<AIProvider> shared = {AIProvider{"Empty", "e", std::nullopt, {}},
                                            AIProvider{"First", "first", std::nullopt, {"m"}},
                                            AIProvider{"Second", "second", std::nullopt, {"m"}}};
    EXPECT_EQ(providerForModel(shared, "m")->slug, "first");
}

}  // namespace
}  // namespace velmora
