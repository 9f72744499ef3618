#include "support/TestMainQueue.h"

#include <algorithm>
#include <utility>

namespace velmora::testing {
namespace {

class TestTimer : public platform::Timer {
  public:
    void invalidate() override { valid_ = false; }
    bool isValid() const override { return valid_; }

  private:
    bool valid_ = true;
};

}  // namespace

void TestMainQueue::enqueue(double due, Block block) {
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(Entry{due, nextSequence_++, std::move(block)});
    }
    wake_.notify_all();
}

void TestMainQueue::async(Block block) {
    double due;
    {
        std::lock_guard lock(mutex_);
        due = now_;
    }
    enqueue(due, std::move(block));
}

void TestMainQueue::asyncAfter(double seconds, Block block) {
    double due;
    {
        std::lock_guard lock(mutex_);
        due = now_ + seconds;
    }
    enqueue(due, std::move(block));
}

std::shared_ptr<platform::Timer> TestMainQueue::scheduleTimer(double interval, bool repeats,
                                                              Block block) {
    auto timer = std::make_shared<TestTimer>();
    scheduleTick(timer, interval, repeats, std::make_shared<Block>(std::move(block)),
                 now() + interval);
    return timer;
}

void TestMainQueue::scheduleTick(std::shared_ptr<platform::Timer> timer, double interval,
                                 bool repeats, std::shared_ptr<Block> block, double due) {
    enqueue(due, [this, timer, interval, repeats, block, due] {
        // Like a run loop, the queue keeps a scheduled timer alive until it is invalidated.
        if (!timer->isValid()) {
            return;
        }
        (*block)();
        if (!repeats) {
            timer->invalidate();
        } else if (timer->isValid()) {
            scheduleTick(timer, interval, repeats, block, due + interval);
        }
    });
}

void TestMainQueue::sleepOnMainThread(std::chrono::microseconds duration) {
    std::lock_guard lock(mutex_);
    const double seconds = std::chrono::duration<double>(duration).count();
    now_ += seconds;
    slept_ += seconds;
}

double TestMainQueue::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

double TestMainQueue::sleptSeconds() const {
    std::lock_guard lock(mutex_);
    return slept_;
}

std::size_t TestMainQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

bool TestMainQueue::runNextDue(double limit) {
    Block block;
    {
        std::lock_guard lock(mutex_);
        auto it = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });
        if (it == entries_.end() || it->due > limit) {
            return false;
        }
        now_ = std::max(now_, it->due);
        block = std::move(it->block);
        entries_.erase(it);
    }
    block();
    return true;
}

void TestMainQueue::runUntilIdle() {
    while (runNextDue(now())) {
    }
}

void TestMainQueue::advance(double seconds) {
    const double target = now() + seconds;
    while (runNextDue(target)) {
    }
    {
        std::lock_guard lock(mutex_);
        now_ = std::max(now_, target);
    }
    runUntilIdle();
}

bool TestMainQueue::runUntil(const std::function<bool()>& done,
                             std::chrono::milliseconds realTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + realTimeout;
    while (true) {
        runUntilIdle();
        if (done()) {
            return true;
        }
        std::unique_lock lock(mutex_);
        const bool woke = wake_.wait_until(lock, deadline, [this] {
            return std::any_of(entries_.begin(), entries_.end(),
                               [this](const Entry& e) { return e.due <= now_; });
        });
        if (!woke) {
            lock.unlock();
            runUntilIdle();
            return done();
        }
    }
}

}  // namespace velmora::testing
