#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "DesktopTestSupport.h"
#include "platform/linux/QtMainQueue.h"

namespace velmora::desktop {
namespace {

using testing::waitUntil;

// A block spinning a nested event loop (as a modal dialog does) holds the queue: blocks queued
// meanwhile, delayed blocks and timer ticks that fall due all wait for it, then run in order.
TEST(QtMainQueue, BlockInNestedEventLoopHoldsTheQueue) {
    QtMainQueue queue;
    std::vector<std::string> order;
    std::shared_ptr<platform::Timer> timer;

    queue.async([&] {
        order.push_back("modal begins");
        queue.async([&] { order.push_back("queued during modal"); });
        queue.asyncAfter(0.05, [&] { order.push_back("delayed"); });
        timer = queue.scheduleTimer(0.05, false, [&] { order.push_back("timer"); });
        QEventLoop nested;
        QTimer::singleShot(400, &nested, &QEventLoop::quit);
        nested.exec();
        order.push_back("modal ends");
    });
    queue.async([&] { order.push_back("second"); });

    ASSERT_TRUE(waitUntil([&] { return order.size() == 6; }));
    EXPECT_EQ(order, (std::vector<std::string>{"modal begins", "modal ends", "second",
                                               "queued during modal", "delayed", "timer"}));
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(queue.isIdle());
}

TEST(QtMainQueue, AsyncFromOtherThreadsRunsOnTheMainThreadInOrder) {
    QtMainQueue queue;
    std::vector<int> seen;
    std::atomic<bool> allOnMain{true};
    const auto mainThread = std::this_thread::get_id();

    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            queue.async([&, i] {
                if (std::this_thread::get_id() != mainThread) {
                    allOnMain = false;
                }
                seen.push_back(i);
            });
        }
    });
    worker.join();

    ASSERT_TRUE(waitUntil([&] { return seen.size() == 100; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[i], i);
    }
}

TEST(QtMainQueue, RepeatingTimerTicksUntilInvalidated) {
    QtMainQueue queue;
    int ticks = 0;
    std::shared_ptr<platform::Timer> timer = queue.scheduleTimer(0.02, true, [&] { ++ticks; });
    ASSERT_TRUE(waitUntil([&] { return ticks >= 3; }));
    EXPECT_TRUE(timer->isValid());

    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    const int atInvalidation = ticks;
    // Any tick queued before the invalidation may still run; none after it.
    QTimer pause;
    pause.start(200);
    waitUntil([&] { return !pause.isActive() || pause.remainingTime() == 0; }, 300);
    EXPECT_LE(ticks, atInvalidation + 1);
}

}  // namespace
}  // namespace velmora::desktop
