#include <gtest/gtest.h>

#include "support/TestPlatform.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

class HUDManagerTest : public ::testing::Test {
  protected:
    testing::TestPlatform t;
    HUDManager& hud = t.hud;
    testing::FakePanel& panel() { return *t.windows.panel; }
};

TEST_F(HUDManagerTest, ShowsCentredAndFadesInThenOut) {
    hud.hideHUD();
    EXPECT_EQ(t.windows.panel, nullptr) << "hiding before any show makes no panel";

    hud.showHUD("Velmoraing...", "sparkles");
    EXPECT_TRUE(panel().onScreen);
    EXPECT_EQ(panel().content.message, "Velmoraing...");
    EXPECT_EQ(panel().frame, (platform::Rect{{650, 382.5}, {140, 110}}));
    t.queue.advance(190ms);
    EXPECT_EQ(panel().alpha, 0);
    t.queue.advance(20ms);
    EXPECT_EQ(panel().alpha, 1);

    // Each show restarts the symbol's animation, even with the same content.
    const auto identity = panel().content.identity;
    hud.showHUD("Velmoraing...", "sparkles");
    EXPECT_NE(panel().content.identity, identity);

    hud.hideHUD();
    t.queue.advance(290ms);
    EXPECT_TRUE(panel().onScreen);
    t.queue.advance(20ms);
    EXPECT_FALSE(panel().onScreen);
    EXPECT_EQ(panel().alpha, 0);

    t.windows.screen.reset();
    hud.showHUD("A much longer message than fits on one line of the panel", "sparkles");
    EXPECT_EQ(panel().frame.origin, (platform::Point{650, 382.5})) << "no screen: it stays";
    EXPECT_EQ(panel().frame.size.width, 220);
}

TEST_F(HUDManagerTest, AShowDuringTheFadeOutKeepsThePanel) {
    hud.showHUD("one", "sparkles");
    hud.hideHUD();
    t.queue.advance(100ms);
    hud.showHUD("two", "sparkles");
    t.queue.advance(1s);
    EXPECT_TRUE(panel().onScreen);
    EXPECT_EQ(panel().alpha, 1);
}

}  // namespace
}  // namespace velmora
