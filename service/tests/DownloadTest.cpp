#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "ServiceTestSupport.h"

namespace velmora::service::testing {
namespace {

TEST(Downloads, TheVersionDocumentNamesTheConfiguredVersion) {
    ServiceConfig config = testConfig();
    config.version = "2.10.1";
    RunningService service(config);
    LogRecorder recorder;

    auto result = service.client()->Get("/latest/version.json?cache=bust");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(result->body), nlohmann::json({{"version", "2.10.1"}}));

    // The log line names the path without its query.
    EXPECT_TRUE(recorder.waitForLine("GET /latest/version.json 200 "));
    EXPECT_EQ(recorder.text().find("cache=bust"), std::string::npos);
}

TEST(Downloads, TheInstallerIsStreamedWhole) {
    TempDir dir;
    const std::string path = dir.path() + "/Velmora-2.0.dmg";
    std::string contents(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 random(7);
    for (char& c : contents) {
        c = static_cast<char>(random());
    }
    std::ofstream(path, std::ios::binary) << contents;

    ServiceConfig config = testConfig();
    config.installerFile = path;
    RunningService service(config);
    auto result = service.client()->Get("/latest/Velmora.dmg");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/x-apple-diskimage");
    EXPECT_EQ(result->get_header_value("Content-Disposition"),
              "attachment; filename=\"Velmora.dmg\"");
    EXPECT_EQ(result->body.size(), contents.size());
    EXPECT_TRUE(result->body == contents);
}

TEST(Downloads, NoInstallerIs404) {
    TempDir dir;
    for (const std::string& installer : {std::string(), dir.path() + "/missing.dmg"}) {
        ServiceConfig config = testConfig();
        config.installerFile = installer;
        RunningService service(config);
        auto result = service.client()->Get("/latest/Velmora.dmg");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 404) << installer;
    }
}

}  // namespace
}  // namespace velmora::service::testing
