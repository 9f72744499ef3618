#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/AppHarness.h"

namespace velmora {
namespace {

using platform::MenuTarget;
using testing::AppHarness;

// One line per item: title, action name, target, key equivalent, check mark and enabled state.
std::vector<std::string> describe(const std::vector<platform::MenuItem>& items) {
    std::vector<std::string> lines;
    for (const auto& item : items) {
        if (item.isSeparator) {
            lines.push_back("---");
            continue;
        }
        lines.push_back(item.title + "|" + item.actionName + "|" +
                        (item.target == MenuTarget::ApplicationDelegate ? "delegate" : "-") + "|" +
                        item.keyEquivalent + (item.checked ? "|on" : "") +
                        (item.enabled ? "" : "|disabled") +
                        (item.action || !item.submenu.empty() ? "" : "|no action"));
    }
    return lines;
}

std::vector<std::string> checkedTitles(const AppHarness& harness) {
    std::vector<std::string> titles;
    for (const auto& item : harness.test.statusBar.item->menu->items.front().submenu) {
        if (item.checked) {
            titles.push_back(item.title);
        }
    }
    return titles;
}

TEST(StatusMenu, SignedOutAndSignedInShapesDifferOnlyInTheAccountItem) {
    AppHarness signedOut;
    signedOut.delegate().rebuildStatusMenu();  // before launch there is no status item
    EXPECT_EQ(signedOut.test.statusBar.item, nullptr);
    signedOut.launch();

    const std::vector<std::string> expectedSignedOut = {
        "Writing Style||-|",
        "Edit shortcut|showShortcutEditor|-|",
        "---",
        "Check for Updates...|checkForUpdatesAction|-|",
        "Sign in|signInAction|-|",
        "---",
        "About Velmora|showAboutInfo|-|",
        "Quit Velmora|quitApplication|delegate|q",
    };
    EXPECT_EQ(describe(signedOut.statusItem().menu->items), expectedSignedOut);
    EXPECT_EQ(describe(signedOut.statusItem().menu->items.front().submenu),
              (std::vector<std::string>{
                  "Custom prompt|selectCustomStyleFromStatusBar|delegate||on",
                  "Informal|selectInformalStyleFromStatusBar|delegate|",
                  "Casual|selectCasualStyleFromStatusBar|delegate|",
                  "Concise|selectConciseStyleFromStatusBar|delegate|",
              }));

    AppHarness signedIn;
    signedIn.launchSignedIn();
    std::vector<std::string> expectedSignedIn = expectedSignedOut;
    expectedSignedIn[4] = "Sign out|signOutAction|-|";
    EXPECT_EQ(describe(signedIn.statusItem().menu->items), expectedSignedIn);

    // The account item follows the pair, not the flag alone; an empty token is still a token.
    signedIn.delegate().setAccountStateForTesting(true, std::nullopt);
    signedIn.delegate().rebuildStatusMenu();
    EXPECT_NE(signedIn.statusItem().find("Sign in"), nullptr);
    signedIn.delegate().setAccountStateForTesting(true, std::string());
    signedIn.delegate().rebuildStatusMenu();
    EXPECT_NE(signedIn.statusItem().find("Sign out"), nullptr);
    signedIn.delegate().setAccountStateForTesting(false, std::string("token"));
    signedIn.delegate().rebuildStatusMenu();
    EXPECT_NE(signedIn.statusItem().find("Sign in"), nullptr);
}

TEST(StatusMenu, CheckMarkSitsOnTheExactStyleKeyAndMovesOnChoice) {
    AppHarness harness;
    harness.test.defaults.values["selectedWritingStyle"] = std::string("Informal");
    harness.launch();
    EXPECT_TRUE(checkedTitles(harness).empty()) << "a key outside the four checks nothing";

    const int menusBefore = harness.statusItem().menusSet;
    harness.log.clear();
    ASSERT_TRUE(harness.statusItem().choose("Informal"));
    EXPECT_EQ(harness.delegate().currentWritingStyle(), "informal");
    EXPECT_EQ(std::get<std::string>(harness.test.defaults.values["selectedWritingStyle"]),
              "informal");
    EXPECT_EQ(harness.log.lines(), (std::vector<std::string>{"Saved writing style: informal",
                                                             "Writing style selected: informal"}));
    EXPECT_EQ(harness.statusItem().menusSet, menusBefore + 1) << "a fresh menu, at once";
    EXPECT_EQ(checkedTitles(harness), std::vector<std::string>{"Informal"});

    ASSERT_TRUE(harness.statusItem().choose("Casual"));
    EXPECT_EQ(checkedTitles(harness), std::vector<std::string>{"Casual"});
    ASSERT_TRUE(harness.statusItem().choose("Concise"));
    EXPECT_EQ(checkedTitles(harness), std::vector<std::string>{"Concise"});
    EXPECT_EQ(harness.delegate().currentWritingStyle(), "concise");
    harness.test.queue.runUntilIdle();
    EXPECT_TRUE(harness.test.alerts.shown.empty());
}

TEST(StatusMenu, CustomPromptStoresTheStyleButMovesTheCheckMarkOnlyOnOk) {
    AppHarness harness;
    harness.test.defaults.values["selectedWritingStyle"] = std::string("concise");
    harness.launch();
    const int menusBefore = harness.statusItem().menusSet;

    harness.test.alerts.script.push_back({platform::alertSecondButtonReturn, std::nullopt});
    ASSERT_TRUE(harness.statusItem().choose("Custom prompt"));
    EXPECT_EQ(harness.delegate().currentWritingStyle(), "custom");
    EXPECT_TRUE(harness.test.alerts.shown.empty()) << "the dialog is queued";
    harness.test.queue.runUntilIdle();

    EXPECT_EQ(harness.test.alerts.titles(), std::vector<std::string>{"Writing Style"});
    EXPECT_EQ(std::get<std::string>(harness.test.defaults.values["selectedWritingStyle"]),
              "custom");
    EXPECT_TRUE(harness.log.contains("Writing style input cancelled."));
    EXPECT_EQ(harness.statusItem().menusSet, menusBefore);
    EXPECT_EQ(checkedTitles(harness), std::vector<std::string>{"Concise"});

    harness.test.alerts.script.push_back({platform::alertFirstButtonReturn, "Be brief."});
    ASSERT_TRUE(harness.statusItem().choose("Custom prompt"));
    harness.test.queue.runUntilIdle();
    EXPECT_EQ(checkedTitles(harness), std::vector<std::string>{"Custom prompt"});
    EXPECT_EQ(harness.delegate().customInstructions(), "Be brief.");
}

TEST(StatusMenu, QuitAndTheSettingsPopUp) {
    AppHarness harness;
    harness.launch();

    ASSERT_TRUE(harness.statusItem().choose("Quit Velmora"));
    EXPECT_EQ(harness.test.application.terminateRequests, 1);

    harness.delegate().showSettings();
    ASSERT_EQ(harness.test.statusBar.popUps.size(), 1u);
    const platform::Menu& popUp = harness.test.statusBar.popUps.front();
    EXPECT_EQ(describe(popUp.items),
              (std::vector<std::string>{
                  "Check Permissions|checkAccessibilityPermissions|delegate|",
                  "Reset Writing Style|resetCustomInstructions|delegate|",
              }));

    harness.test.defaults.values["customAIInstructions"] = std::string("x");
    popUp.items[1].action();
    harness.test.queue.runUntilIdle();
    EXPECT_FALSE(harness.test.defaults.contains("customAIInstructions"));
    EXPECT_EQ(harness.test.alerts.titles(), std::vector<std::string>{"Writing Style Reset"});
}

}  // namespace
}  // namespace velmora
