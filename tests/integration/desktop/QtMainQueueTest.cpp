#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DesktopTestSupport.h"
#include "platform/linux/QtMainQueue.h"

namespace velmora::desktop {
namespace {

using testing::waitUntil;

// A block spinning a nested event loop (as a modal dialog does) holds the queue: blocks queued
// meanwhile, also from other threads, delayed blocks and timer ticks that fall due all wait for
// it, then run in order. A destroyed timer never ticks.
TEST(QtMainQueue, BlockInNestedEventLoopHoldsTheQueue) {
    QtMainQueue queue;
    std::vector<std::string> order;
    std::unique_ptr<platform::Timer> timer;
    bool heldWhileModal = false;

    queue.async([&] {
        order.push_back("modal begins");
        std::thread([&] { queue.async([&] { order.push_back("queued during modal"); }); }).join();
        queue.asyncAfter(std::chrono::milliseconds(50), [&] { order.push_back("delayed"); });
        timer = queue.scheduleTimer(std::chrono::milliseconds(50), false,
                                    [&] { order.push_back("timer"); });
        queue.scheduleTimer(std::chrono::milliseconds(50), false,
                            [&] { order.push_back("destroyed timer"); });
        QEventLoop nested;
        QTimer::singleShot(300, &nested, [&] {
            heldWhileModal = queue.isRunningBlock();
            nested.quit();
        });
        nested.exec();
        order.push_back("modal ends");
    });
    queue.async([&] { order.push_back("second"); });

    ASSERT_TRUE(waitUntil([&] { return order.size() == 6; }));
    EXPECT_FALSE(waitUntil([&] { return order.size() > 6; }, 200));
    EXPECT_EQ(order, (std::vector<std::string>{"modal begins", "modal ends", "second",
                                               "queued during modal", "delayed", "timer"}));
    EXPECT_TRUE(heldWhileModal);
    EXPECT_FALSE(queue.isRunningBlock());
}

}  // namespace
}  // namespace velmora::desktop
