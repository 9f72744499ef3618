#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/MainQueue.h"

namespace velmora::testing {

// The serial main queue on a virtual clock. Blocks run only inside `runUntilIdle` and `advance`,
// one at a time and in due-time order.
class TestMainQueue : public platform::MainQueue {
  public:
    void async(Block block) override { enqueue(now_, std::move(block)); }
    void asyncAfter(double seconds, Block block) override {
        enqueue(now_ + seconds, std::move(block));
    }
    std::unique_ptr<platform::Timer> scheduleTimer(double interval, bool repeats,
                                                   Block block) override;
    bool isRunningBlock() const override { return running_; }

    // Seconds since the start of the test.
    double now() const { return now_; }
    // Runs every block due now, including those they queue for now.
    void runUntilIdle() { advance(0); }
    // Moves the clock forward, running blocks as they fall due.
    void advance(double seconds);

  private:
    struct Entry {
        double due;
        std::uint64_t sequence;
        Block block;
    };
    void enqueue(double due, Block block);
    void tick(std::shared_ptr<bool> valid, double interval, bool repeats,
              std::shared_ptr<Block> block, double due);

    std::vector<Entry> entries_;
    std::uint64_t nextSequence_ = 0;
    double now_ = 0;
    bool running_ = false;
};

}  // namespace velmora::testing
