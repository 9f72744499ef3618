#include "platform/linux/QtMainQueue.h"

#include <QTimer>
#include <cmath>
#include <thread>

namespace velmora::desktop {
namespace {

int toMilliseconds(double seconds) {
    if (!(seconds > 0)) {
        return 0;
    }
    return static_cast<int>(std::lround(std::min(seconds, 2.0e6) * 1000.0));
}

class QtTimer : public platform::Timer {
  public:
    QtTimer(QtMainQueue& queue, int intervalMs, bool repeats, platform::MainQueue::Block block)
        : block_(std::move(block)) {
        timer_.setInterval(intervalMs);
        timer_.setSingleShot(!repeats);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this, &queue, repeats] {
            if (!repeats) {
                valid_ = false;
            }
            // A tick only queues the block; it runs in turn with everything else.
            queue.async(block_);
        });
        timer_.start();
    }

    void invalidate() override {
        valid_ = false;
        timer_.stop();
    }
    bool isValid() const override { return valid_; }

  private:
    QTimer timer_;
    platform::MainQueue::Block block_;
    bool valid_ = true;
};

}  // namespace

QtMainQueue::QtMainQueue() = default;

void QtMainQueue::async(Block block) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(block));
    }
    scheduleDrain();
}

void QtMainQueue::asyncAfter(double seconds, Block block) {
    QTimer::singleShot(toMilliseconds(seconds), Qt::PreciseTimer, this,
                       [this, block = std::move(block)]() mutable { async(std::move(block)); });
}

std::shared_ptr<platform::Timer> QtMainQueue::scheduleTimer(double interval, bool repeats,
                                                            Block block) {
    return std::make_shared<QtTimer>(*this, toMilliseconds(interval), repeats, std::move(block));
}

void QtMainQueue::sleepOnMainThread(std::chrono::microseconds duration) {
    std::this_thread::sleep_for(duration);
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
}

}  // namespace velmora::desktop
