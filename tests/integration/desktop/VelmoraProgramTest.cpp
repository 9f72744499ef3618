#include <gtest/gtest.h>

#include <QFileInfo>

#include "DesktopTestSupport.h"
#include "platform/linux/QtApplication.h"
#include "platform/linux/QtMainQueue.h"

namespace velmora::desktop {
namespace {

using namespace testing;

const QString kProgram = QStringLiteral(VELMORA_PROGRAM);

// `velmora --trigger` with no instance running says so and fails. Once one runs, a second
// `velmora URL` hands the URL over (to the handler, on the main queue), a second plain `velmora`
// hands nothing over, and `velmora --trigger` reaches the trigger handler; each exits 0. The
// instance socket is for this user only.
TEST(VelmoraProgram, SecondInstanceHandsOverItsUrlOrTheTrigger) {
    const CommandResult alone = run(kProgram, {"--trigger"});
    EXPECT_NE(alone.exitCode, 0);
    EXPECT_TRUE(alone.output.contains(QStringLiteral("not running"))) << alone.output.toStdString();

    QtMainQueue queue;
    QtApplication application(queue);
    ASSERT_TRUE(application.listen());
    std::vector<std::optional<std::string>> urls;
    int triggers = 0;
    application.setUrlHandler([&](const std::optional<std::string>& url) {
        EXPECT_TRUE(queue.isRunningBlock());
        urls.push_back(url);
    });
    application.setTriggerHandler([&] { ++triggers; });
    const QFileInfo socket(QtApplication::socketPath());
    EXPECT_EQ(socket.permissions() &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              QFile::Permissions());

    const std::string url = "velmora://auth/callback?token=abc%2B123";
    for (const QStringList& arguments :
         {QStringList{QString::fromStdString(url)}, QStringList{}, QStringList{"--trigger"}}) {
        EXPECT_EQ(run(kProgram, arguments).exitCode, 0) << arguments.join(' ').toStdString();
    }
    ASSERT_TRUE(waitUntil([&] { return urls.size() == 1 && triggers == 1 && queue.isIdle(); }));
    EXPECT_EQ(urls, (std::vector<std::optional<std::string>>{url}));
}

}  // namespace
}  // namespace velmora::desktop
