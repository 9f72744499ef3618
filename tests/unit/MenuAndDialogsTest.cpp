#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using testing::AppHarness;

std::vector<std::string> checkedStyles(const AppHarness& h) {
    std::vector<std::string> titles;
    for (const auto& item : h.test.tray.item->find("Writing Style")->submenu) {
        if (item.checked) {
            titles.push_back(item.title);
        }
    }
    return titles;
}

TEST(StatusMenu, SignedOutAndSignedInShapesDifferOnlyInTheAccountItem) {
    AppHarness h;
    h.launch();
    const std::vector<std::string> signedOut = {
        "Writing Style",        "Edit shortcut", "-",
        "Check for Updates...", "Sign in",       "-",
        "Start at Login",       "Settings...",   "About Velmora",
        "Quit Velmora"};
    EXPECT_EQ(h.statusItem().titles(), signedOut);
    EXPECT_EQ(h.statusItem().find("Quit Velmora")->keyEquivalent, "q");
    std::vector<std::string> styles;
    for (const auto& item : h.statusItem().find("Writing Style")->submenu) {
        styles.push_back(item.title);
    }
    EXPECT_EQ(styles, (std::vector<std::string>{"Custom prompt", "Informal", "Casual", "Concise"}));
    EXPECT_EQ(checkedStyles(h), std::vector<std::string>{"Custom prompt"});

    // An empty token is still a token.
    AppHarness withEmptyToken;
    withEmptyToken.launchSignedIn("");
    EXPECT_TRUE(withEmptyToken.statusItem().find("Sign out"));
    EXPECT_EQ(withEmptyToken.statusItem().titles().size(), signedOut.size());
}

// The item shows whether the desktop starts Velmora at login and switches it; a refused change
// says why and leaves the mark as it was.
TEST(StatusMenu, StartAtLoginShowsAndSwitchesTheDesktopsSetting) {
    AppHarness h;
    h.test.application.atLogin = true;
    h.launch();
    EXPECT_TRUE(h.statusItem().find("Start at Login")->checked);
    EXPECT_EQ(h.statusItem().find("Start at Login")->id, "start-at-login");
    h.choose("Start at Login");
    EXPECT_FALSE(h.test.application.atLogin);
    EXPECT_FALSE(h.statusItem().find("Start at Login")->checked);
    h.test.application.loginRefusal = "The autostart folder is read-only.";
    h.choose("Start at Login");
    EXPECT_FALSE(h.statusItem().find("Start at Login")->checked);
    ASSERT_EQ(h.test.alerts.titles(), std::vector<std::string>{"Start at Login Not Changed"});
    EXPECT_EQ(h.test.alerts.shown[0].request.message, "The autostart folder is read-only.");
}

TEST(StatusMenu, CheckMarkSitsOnTheExactStyleKeyAndMovesOnChoice) {
    AppHarness h;
    h.test.defaults.values["selectedWritingStyle"] = std::string("Informal");
    h.launch();
    EXPECT_TRUE(checkedStyles(h).empty()) << "a key outside the four checks nothing";
    for (const char* title : {"Informal", "Casual", "Concise"}) {
        h.choose(title);
        EXPECT_EQ(checkedStyles(h), std::vector<std::string>{title});
    }
    EXPECT_EQ(h.test.defaults.stringForKey("selectedWritingStyle"), "concise");
    EXPECT_TRUE(h.test.alerts.shown.empty());
}

TEST(StatusMenu, CustomPromptStoresTheStyleButMovesTheCheckMarkOnlyOnOk) {
    AppHarness h;
    h.test.defaults.values["selectedWritingStyle"] = std::string("concise");
    h.test.defaults.values["customAIInstructions"] = std::string("Old.");
    h.launch();
    h.test.alerts.answers.push_back({1, "ignored"});
    h.choose("Custom prompt");
    EXPECT_EQ(h.test.defaults.stringForKey("selectedWritingStyle"), "custom");
    EXPECT_TRUE(h.log.contains("Writing style input cancelled."));
    EXPECT_EQ(checkedStyles(h), std::vector<std::string>{"Concise"});
    const auto& dialog = h.test.alerts.shown[0].request;
    EXPECT_EQ(dialog.title, "Writing Style");
    EXPECT_EQ(dialog.message,
              "Enter custom instructions for the AI (e.g., 'Principal Software Engineer, be "
              "cutting...'). This will be sent as 'user_instructions'. Leave empty for default "
              "behavior.");
    EXPECT_EQ(dialog.buttons, (std::vector<std::string>{"OK", "Cancel"}));
    EXPECT_EQ(dialog.textField, "Old.");
    EXPECT_EQ(h.delegate().preferences().customInstructions(), "Old.");

    h.test.alerts.answers.push_back({0, "  Be brief.\n"});
    h.choose("Custom prompt");
    EXPECT_EQ(checkedStyles(h), std::vector<std::string>{"Custom prompt"});
    EXPECT_EQ(h.delegate().preferences().customInstructions(), "  Be brief.\n");
    EXPECT_EQ(h.test.alerts.titles().back(), "Writing Style Saved");
    EXPECT_TRUE(h.log.contains("Saved custom instructions. Current:   Be brief.\\n"));

    // OK with nothing typed clears them, and still confirms.
    h.test.alerts.answers.push_back({0, ""});
    h.choose("Custom prompt");
    EXPECT_EQ(h.delegate().preferences().customInstructions(), std::nullopt);
    EXPECT_FALSE(h.test.defaults.values.contains("customAIInstructions"));
    EXPECT_TRUE(h.log.contains("Saved custom instructions. Current: Using default"));
    EXPECT_EQ(h.test.alerts.titles().back(), "Writing Style Saved");
    EXPECT_EQ(h.test.alerts.shown.back().request.message,
              "Writing style instructions have been updated.");
}

TEST(StatusMenu, QuitAndTheSettingsPopUp) {
    AppHarness h;
    h.launch();
    h.choose("Quit Velmora");
    EXPECT_EQ(h.test.application.terminateRequests, 1);

    h.test.defaults.values["customAIInstructions"] = std::string("x");
    h.choose("Settings...");
    ASSERT_EQ(h.statusItem().popUps.size(), 1u);
    const auto& popUp = h.statusItem().popUps[0].items;
    ASSERT_EQ(popUp.size(), 2u);
    EXPECT_EQ(popUp[0].title, "Check Permissions");
    EXPECT_EQ(popUp[1].title, "Reset Writing Style");
    h.test.queue.async(popUp[0].action);
    h.test.queue.async(popUp[1].action);
    h.run();
    EXPECT_EQ(h.test.alerts.titles(),
              (std::vector<std::string>{"Permissions Granted", "Writing Style Reset"}));
    EXPECT_EQ(h.test.alerts.shown[0].request.message,
              "Accessibility permissions are enabled for Velmora.");
    EXPECT_EQ(h.test.alerts.shown[1].request.message,
              "Writing style instructions have been reset.");
    EXPECT_FALSE(h.test.defaults.values.contains("customAIInstructions"));
}

TEST(About, ShowsStyleAndShortcutAndOpensTheSites) {
    AppHarness h;
    h.test.defaults.values["selectedWritingStyle"] = std::string("concise");
    h.launch();
    h.test.alerts.answers = {{0, {}}, {1, {}}, {2, {}}};
    for (int i = 0; i < 3; ++i) {
        h.choose("About Velmora");
    }
    const auto& about = h.test.alerts.shown[0].request;
    EXPECT_EQ(about.title, "About Velmora");
    EXPECT_EQ(about.message, "Velmora\n\nCurrent style: Concise\nShortcut: Ctrl+Shift+P");
    EXPECT_EQ(about.buttons, (std::vector<std::string>{"Visit Website", "Privacy Policy", "OK"}));
    EXPECT_EQ(h.test.application.opened,
              (std::vector<std::string>{"https://www.test", "https://www.test/privacy"}));
}

TEST(MenuManager, ForwardsOnlyWhenSignedInAndGivenText) {
    AppHarness h;
    AppDelegate& app = h.launch();
    MenuManager& menu = app.menuManager();
    platform::MenuItem item;
    item.representedObject = "gemini-2.5-flash-preview-05-20";
    h.log.clear();
    menu.selectModel(item);  // signed out: nothing at all
    menu.processSelectedTextWrapper(item);
    EXPECT_TRUE(h.log.lines().empty());

    h.signIn("token");
    h.log.clear();
    menu.selectModel(platform::MenuItem{});
    EXPECT_TRUE(h.log.lines().empty());
    menu.selectModel(item);
    EXPECT_TRUE(h.log.contains("Model selected: gemini-2.5-flash-preview-05-20"));
    menu.selectCasualStyle(item);
    EXPECT_EQ(app.preferences().currentWritingStyle(), "casual");
    menu.selectConciseStyle(item);  // styles only select; the menu is not rebuilt
    EXPECT_EQ(app.preferences().currentWritingStyle(), "concise");
    EXPECT_EQ(checkedStyles(h), std::vector<std::string>{"Custom prompt"});
    menu.editShortcutWrapper(item);
    EXPECT_TRUE(h.test.windows.editor);
    menu.processSelectedTextWrapper(item);
    h.run();
    EXPECT_TRUE(app.isProcessingText());
}

}  // namespace
}  // namespace velmora
