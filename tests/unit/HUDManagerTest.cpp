#include <gtest/gtest.h>

#include "support/TestPlatform.h"

namespace velmora {
namespace {

TEST(HUDManager, ShowCreatesOnceCentresFadesInAndRestartsTheAnimation) {
    testing::TestPlatform test;
    test.hud.hideHUD();
    EXPECT_TRUE(test.panels.panels.empty()) << "hiding before any show creates nothing";

    test.screens.visibleFrame = platform::Rect{{100, 50}, {1000, 800}};
    test.hud.showHUD("Velmoraing...", "sparkles");
    testing::TestPanel& panel = *test.panel();
    const platform::Size size = panel.measureContent("Velmoraing...", "sparkles");
    const platform::Point centred{600 - size.width / 2, 450 - size.height / 2};
    EXPECT_EQ(panel.frame(), (platform::Rect{centred, size}));
    EXPECT_TRUE(panel.onScreen);
    EXPECT_EQ(panel.animations.back().target, 1.0);
    EXPECT_EQ(panel.animations.back().duration, 0.2);
    test.queue.advance(60);
    EXPECT_TRUE(panel.onScreen) << "no duration: stays until hidden";
    EXPECT_EQ(panel.alpha(), 1.0);

    test.screens.visibleFrame.reset();
    test.hud.showHUD("Velmoraing...", "sparkles");
    EXPECT_EQ(test.panels.panels.size(), 1u);
    EXPECT_NE(panel.contents[0].identity, panel.contents[1].identity);
    EXPECT_EQ(panel.frame().origin, centred) << "without a main screen the panel stays put";
}

TEST(HUDManager, HideAndAutoHide) {
    testing::TestPlatform test;
    test.hud.showHUD("Saved", "checkmark", 2.0);
    testing::TestPanel& panel = *test.panel();
    test.queue.advance(1.99);
    EXPECT_EQ(panel.animations.size(), 1u);
    test.queue.advance(0.02);
    EXPECT_EQ(panel.animations.back().target, 0.0);
    EXPECT_EQ(panel.animations.back().duration, 0.3);
    test.queue.advance(0.27);
    EXPECT_TRUE(panel.onScreen);
    test.queue.advance(0.03);
    EXPECT_FALSE(panel.onScreen);

    // A later show without a duration cancels the pending auto-hide; so does a hide.
    test.hud.showHUD("Saved", "checkmark", 2.0);
    test.queue.advance(1.0);
    test.hud.showHUD("Velmoraing...", "sparkles");
    test.queue.advance(5.0);
    EXPECT_TRUE(panel.onScreen);
    test.hud.showHUD("Saved", "checkmark", 2.0);
    test.hud.hideHUD();
    test.queue.advance(0.1);
    test.hud.showHUD("Again", "sparkles");  // during the fade-out
    const std::size_t animations = panel.animations.size();
    test.queue.advance(5.0);
    EXPECT_EQ(panel.animations.size(), animations);
    EXPECT_FALSE(panel.onScreen) << "the fade-out's completion still orders the panel out";
}

}  // namespace
}  // namespace velmora
