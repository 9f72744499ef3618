#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "DesktopTestSupport.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/ServeEventsWhile.h"

namespace velmora::desktop {
namespace {

using testing::run;
using testing::waitUntil;

// While a slow call runs (the secret store waiting on its unlock prompt), another program can
// still read the clipboard Velmora owns. Blocking the main thread instead leaves it waiting.
TEST(RunServingEvents, OtherProgramsReadOurClipboardMeanwhile) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("held by velmora"));
    ASSERT_TRUE(waitUntil([&] { return clipboard->ownsClipboard(); }));

    const QStringList readClipboard{QStringLiteral("-o"), QStringLiteral("-selection"),
                                    QStringLiteral("clipboard")};
    // The fault this guards against: with the main thread blocked, the reader gets nothing.
    EXPECT_EQ(run(QStringLiteral("xclip"), readClipboard, 1000).exitCode, -1);

    QString seen;
    runServingEvents([&] { seen = run(QStringLiteral("xclip"), readClipboard, 10000).output; });
    EXPECT_EQ(seen, QStringLiteral("held by velmora"));
}

// Timers and other events are served meanwhile, but the main queue's next block waits, as during a
// modal dialog.
TEST(RunServingEvents, HoldsTheMainQueueButServesTimers) {
    QtMainQueue queue;
    std::vector<std::string> order;
    queue.async([&] {
        queue.async([&] { order.push_back("queued meanwhile"); });
        QTimer::singleShot(20, [&] { order.push_back("timer"); });
        runServingEvents([&] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
        order.push_back("call returned");
    });
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"timer", "call returned", "queued meanwhile"}));
}

}  // namespace
}  // namespace velmora::desktop
