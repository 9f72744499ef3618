#include <gtest/gtest.h>

#include "support/TestPlatform.h"

namespace velmora {
namespace {

TEST(HUDManager, FirstShowCreatesSizesCentresAndFadesIn) {
    testing::TestPlatform test;
    test.screens.visibleFrame = platform::Rect{{100, 50}, {1000, 800}};
    test.hud.showHUD("Velmoraing...", "sparkles");

    ASSERT_EQ(test.panels.panels.size(), 1u);
    testing::TestPanel& panel = *test.panel();
    ASSERT_EQ(panel.contents.size(), 1u);
    EXPECT_EQ(panel.contents[0].message, "Velmoraing...");
    EXPECT_EQ(panel.contents[0].systemImage, "sparkles");
    const platform::Size size = panel.measureContent("Velmoraing...", "sparkles");
    EXPECT_EQ(panel.frame().size, size);
    EXPECT_EQ(panel.frame().origin, (platform::Point{600 - size.width / 2, 450 - size.height / 2}));
    EXPECT_TRUE(panel.onScreen);
    ASSERT_EQ(panel.animations.size(), 1u);
    EXPECT_EQ(panel.animations[0].target, 1.0);
    EXPECT_EQ(panel.animations[0].duration, 0.2);
    EXPECT_EQ(panel.alpha(), 0.0);
    test.queue.advance(0.2);
    EXPECT_EQ(panel.alpha(), 1.0);

    // Stays up without a duration; a second show reuses the panel with a fresh identity.
    test.queue.advance(60);
    EXPECT_TRUE(panel.onScreen);
    test.screens.visibleFrame.reset();
    test.hud.showHUD("Velmoraing...", "sparkles");
    EXPECT_EQ(test.panels.panels.size(), 1u);
    ASSERT_EQ(panel.contents.size(), 2u);
    EXPECT_NE(panel.contents[0].identity, panel.contents[1].identity);
    EXPECT_EQ(panel.frame().origin, (platform::Point{600 - size.width / 2, 450 - size.height / 2}))
        << "without a main screen the panel keeps its place";
}

TEST(HUDManager, HideFadesOutThenOrdersOut) {
    testing::TestPlatform test;
    test.hud.hideHUD();
    EXPECT_TRUE(test.panels.panels.empty()) << "hiding before any show creates nothing";
    EXPECT_FALSE(test.hud.hasPanel());

    test.hud.showHUD("Working", "sparkles");
    test.queue.advance(0.2);
    test.hud.hideHUD();
    testing::TestPanel& panel = *test.panel();
    EXPECT_EQ(panel.animations.back().target, 0.0);
    EXPECT_EQ(panel.animations.back().duration, 0.3);
    test.queue.advance(0.29);
    EXPECT_TRUE(panel.onScreen);
    test.queue.advance(0.02);
    EXPECT_FALSE(panel.onScreen);
    EXPECT_EQ(panel.alpha(), 0.0);

    // A show during the fade-out is still ordered out when the fade ends.
    test.hud.showHUD("Working", "sparkles");
    test.queue.advance(0.2);
    test.hud.hideHUD();
    test.queue.advance(0.1);
    test.hud.showHUD("Again", "sparkles");
    test.queue.advance(0.25);
    EXPECT_FALSE(panel.onScreen);
    EXPECT_EQ(panel.orderOuts, 2);
}

TEST(HUDManager, AutoHideTimerAndItsCancellation) {
    testing::TestPlatform test;
    test.hud.showHUD("Saved", "checkmark", 2.0);
    testing::TestPanel& panel = *test.panel();
    test.queue.advance(1.99);
    EXPECT_EQ(panel.animations.size(), 1u);
    test.queue.advance(0.02);
    ASSERT_EQ(panel.animations.size(), 2u);
    EXPECT_EQ(panel.animations[1].target, 0.0);
    test.queue.advance(0.3);
    EXPECT_FALSE(panel.onScreen);

    // A later show without a duration cancels the pending auto-hide.
    test.hud.showHUD("Saved", "checkmark", 2.0);
    test.queue.advance(1.0);
    test.hud.showHUD("Velmoraing...", "sparkles");
    test.queue.advance(5.0);
    EXPECT_TRUE(panel.onScreen);
    EXPECT_EQ(panel.animations.back().target, 1.0);

    // An explicit hide cancels a pending auto-hide too.
    test.hud.showHUD("Saved", "checkmark", 2.0);
    test.hud.hideHUD();
    const std::size_t animations = panel.animations.size();
    test.queue.advance(5.0);
    EXPECT_EQ(panel.animations.size(), animations);
}

}  // namespace
}  // namespace velmora
