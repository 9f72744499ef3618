#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/MainQueue.h"

namespace velmora::testing {

// The serial main queue on a virtual clock. Blocks run only inside `runUntilIdle`, `advance` and
// `advanceTo`, one at a time and in due-time order.
class TestMainQueue : public platform::MainQueue {
  public:
    void async(Block block) override { enqueue(now_, std::move(block)); }
    void asyncAfter(Duration delay, Block block) override {
        enqueue(now_ + delay, std::move(block));
    }
    std::unique_ptr<platform::Timer> scheduleTimer(Duration interval, bool repeats,
                                                   Block block) override;
    bool isRunningBlock() const override { return running_; }

    // Time since the start of the test.
    Duration now() const { return now_; }
    // Runs every block due now, including those they queue for now.
    void runUntilIdle() { advanceTo(now_); }
    // Moves the clock forward, running blocks as they fall due.
    void advance(Duration duration) { advanceTo(now_ + duration); }
    void advanceTo(Duration time);

  private:
    struct Entry {
        Duration due;
        std::uint64_t sequence;
        Block block;
    };
    void enqueue(Duration due, Block block);
    void tick(std::shared_ptr<bool> valid, Duration interval, bool repeats,
              std::shared_ptr<Block> block, Duration due);

    std::vector<Entry> entries_;
    std::uint64_t nextSequence_ = 0;
    Duration now_{0};
    bool running_ = false;
};

}  // namespace velmora::testing
