#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "ServiceTestSupport.h"

namespace velmora::service::testing {
namespace {

TEST(Downloads, TheVersionDocumentAndTheInstaller) {
    TempDir dir;
    std::string installer(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < installer.size(); ++i) {
        installer[i] = static_cast<char>(i % 251);
    }
    std::ofstream(dir.path() + "/Velmora-2.0.dmg", std::ios::binary) << installer;
    ServiceConfig config = testConfig();
    config.version = "2.10.1";
    config.installerFile = dir.path() + "/Velmora-2.0.dmg";
    RunningService service(config);
    LogLines log;

    auto version = service.client()->Get("/latest/version.json?cache=bust");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(version->body), nlohmann::json({{"version", "2.10.1"}}));
    EXPECT_EQ(log.waitForLine("GET /latest/version.json 200 ").find("cache"), std::string::npos);

    // A HEAD answer is a head alone, so the next answer on the same connection reads right; the
    // client's warm-up OPTIONS is answered as such.
    auto client = service.client();
    EXPECT_EQ(client->Head("/latest/Velmora.dmg")->get_header_value("Content-Length"),
              std::to_string(installer.size()));
    EXPECT_EQ(client->Options("/api/chat")->status, 204);
    EXPECT_EQ(client->Get("/latest/version.json")->status, 200);

    auto download = service.client()->Get("/latest/Velmora.dmg");
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 200);
    EXPECT_EQ(download->get_header_value("Content-Disposition"),
              "attachment; filename=\"Velmora.dmg\"");
    EXPECT_TRUE(download->body == installer) << download->body.size() << " bytes";

    config.installerFile = dir.path() + "/missing.dmg";
    EXPECT_EQ(RunningService(config).client()->Get("/latest/Velmora.dmg")->status, 404);
}

}  // namespace
}  // namespace velmora::service::testing
