#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/MainQueue.h"

namespace velmora::testing {

// The serial main queue on a virtual clock. Blocks run only inside `runUntilIdle`, `advance` and
// `runUntil`, on the calling thread, one at a time and in due-time order. `async` may be called
// from any thread (the network worker delivers results through it).
class TestMainQueue : public platform::MainQueue {
  public:
    void async(Block block) override;
    void asyncAfter(double seconds, Block block) override;
    std::shared_ptr<platform::Timer> scheduleTimer(double interval, bool repeats,
                                                   Block block) override;
    void sleepOnMainThread(std::chrono::microseconds duration) override;

    // Seconds since the start of the test.
    double now() const;
    // Runs every block due now, including those they queue for now.
    void runUntilIdle();
    // Moves the clock forward, running blocks as they fall due.
    void advance(double seconds);
    // Runs due blocks until `done` holds, waiting in real time for blocks queued by other threads;
    // false when `realTimeout` passed first. The virtual clock does not move.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds realTimeout = std::chrono::seconds(10));
    // Blocks waiting, due now or later.
    std::size_t pendingCount() const;
    // The total time the main thread spent sleeping.
    double sleptSeconds() const;

  private:
    struct Entry {
        double due;
        std::uint64_t sequence;
        Block block;
    };
    void enqueue(double due, Block block);
    bool runNextDue(double limit);
    void scheduleTick(std::shared_ptr<platform::Timer> timer, double interval, bool repeats,
                      std::shared_ptr<Block> block, double due);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> entries_;
    std::uint64_t nextSequence_ = 0;
    double now_ = 0;
    double slept_ = 0;
};

}  // namespace velmora::testing
