#include "platform/linux/QtMainQueue.h"

#include <malloc.h>

#include <QTimer>
#include <algorithm>

namespace velmora::desktop {
namespace {

constexpr int kSettleMs = 3000;

// Qt's timers take whole milliseconds as an int.
int toMilliseconds(platform::MainQueue::Duration duration) {
    constexpr std::chrono::milliseconds::rep kLongest = 2'000'000'000;
    return static_cast<int>(
        std::clamp<std::chrono::milliseconds::rep>(duration.count(), 0, kLongest));
}

// Owned by its caller: destroying it stops the ticks.
class QtTimer : public platform::Timer {
  public:
    QtTimer(QtMainQueue& queue, int intervalMs, bool repeats, platform::MainQueue::Block block) {
        timer_.setInterval(intervalMs);
        timer_.setSingleShot(!repeats);
        timer_.setTimerType(Qt::PreciseTimer);
        // A tick only queues the block; it runs in turn with everything else.
        QObject::connect(&timer_, &QTimer::timeout, &timer_,
                         [&queue, block = std::move(block)] { queue.async(block); });
        timer_.start();
    }

    void invalidate() override { timer_.stop(); }

  private:
    QTimer timer_;
};

}  // namespace

QtMainQueue::QtMainQueue() {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &QtMainQueue::returnFreeMemory);
}

void QtMainQueue::async(Block block) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(block));
    }
    scheduleDrain();
}

void QtMainQueue::asyncAfter(Duration delay, Block block) {
    QTimer::singleShot(toMilliseconds(delay), Qt::PreciseTimer, this,
                       [this, block = std::move(block)]() mutable { async(std::move(block)); });
}

std::unique_ptr<platform::Timer> QtMainQueue::scheduleTimer(Duration interval, bool repeats,
                                                            Block block) {
    return std::make_unique<QtTimer>(*this, toMilliseconds(interval), repeats, std::move(block));
}

bool QtMainQueue::isRunningBlock() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool QtMainQueue::isIdle() const {
    std::lock_guard lock(mutex_);
    return pending_.empty() && !running_;
}

void QtMainQueue::scheduleDrain() {
    {
        std::lock_guard lock(mutex_);
        if (drainScheduled_ || running_ || pending_.empty()) {
            return;
        }
        drainScheduled_ = true;
    }
    QMetaObject::invokeMethod(this, &QtMainQueue::runNext, Qt::QueuedConnection);
}

void QtMainQueue::runNext() {
    Block block;
    {
        std::lock_guard lock(mutex_);
        drainScheduled_ = false;
        // A nested event loop inside the running block must not start the next one.
        if (running_ || pending_.empty()) {
            return;
        }
        block = std::move(pending_.front());
        pending_.pop_front();
        running_ = true;
    }
    block();
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    // One block per turn, so input and painting interleave with a long queue.
    scheduleDrain();
    settle_.start();
}

// A while after the last block, the heap's free pages go back to the system: a burst of work
// (a rewrite, a notice) leaves the waiting program no larger than before it.
void QtMainQueue::returnFreeMemory() {
    if (isIdle()) {
        ::malloc_trim(0);
    }
}

}  // namespace velmora::desktop
