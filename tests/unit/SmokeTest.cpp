#include <gtest/gtest.h>

#include "support/AppHarness.h"

namespace velmora {
namespace {

TEST(Smoke, LaunchesOnTheTestPlatform) {
    testing::AppHarness harness;
    harness.launch();
    EXPECT_TRUE(harness.log.contains(
        "App launched. Selected Model: gemini-2.5-flash-preview-05-20. Authenticated: "
        "false, Token available: false"));
}

}  // namespace
}  // namespace velmora
