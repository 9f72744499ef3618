#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <optional>

#include "DesktopTestSupport.h"
#include "platform/linux/QtApplication.h"
#include "platform/linux/QtMainQueue.h"

namespace velmora::desktop {
namespace {

using platform::OpenResult;
using testing::waitUntil;

// The desktop's own opener (xdg-open) with no handler for https: the URL is reported not shown;
// with a browser that takes it, shown, and the browser has it.
TEST(QtApplication, OpenURLReportsWhetherTheDesktopShowedIt) {
    QTemporaryDir dir;
    qputenv("XDG_DATA_DIRS", dir.path().toUtf8());
    qputenv("BROWSER", "false");
    QtMainQueue queue;
    QtApplication application(queue);
    std::optional<OpenResult> result;
    const auto open = [&] {
        result.reset();
        application.openURL("https://127.0.0.1:9/auth?x=1", [&](OpenResult r) { result = r; });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result;
    };
    EXPECT_EQ(open(), OpenResult::NotOpened);

    QFile browser(dir.filePath("browser"));
    ASSERT_TRUE(browser.open(QIODevice::WriteOnly));
    browser.write("#!/bin/sh\necho \"$1\" >\"$0.shown\"\n");
    browser.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    browser.close();
    qputenv("BROWSER", browser.fileName().toUtf8());
    EXPECT_EQ(open(), OpenResult::Opened);
    QFile shown(browser.fileName() + ".shown");
    ASSERT_TRUE(shown.open(QIODevice::ReadOnly));
    EXPECT_EQ(shown.readAll(), "https://127.0.0.1:9/auth?x=1\n");
    qunsetenv("BROWSER");
    qunsetenv("XDG_DATA_DIRS");
}

}  // namespace
}  // namespace velmora::desktop
