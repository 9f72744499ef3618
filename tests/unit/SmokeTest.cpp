#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "support/TestPlatform.h"

namespace velmora {
namespace {

TEST(Smoke, LaunchesOnTheTestPlatform) {
    testing::TestPlatform test;
    testing::LogCapture log;
    MendwellApp app(test.platform, test.hud, ServiceEndpoints::forHosts(ServiceHosts::builtIn()));
    app.didFinishLaunching();
    EXPECT_EQ(log.lines().back(),
              "App launched. Selected Model: gemini-2.5-flash-preview-05-20. Authenticated: "
              "false, Token available: false");
}

}  // namespace
}  // namespace velmora
