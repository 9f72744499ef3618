#include "support/TestMainQueue.h"

#include <algorithm>
#include <utility>

namespace velmora::testing {
namespace {

class TestTimer : public platform::Timer {
  public:
    explicit TestTimer(std::shared_ptr<bool> valid) : valid_(std::move(valid)) {}
    ~TestTimer() override { invalidate(); }
    void invalidate() override { *valid_ = false; }

  private:
    std::shared_ptr<bool> valid_;
};

}  // namespace

void TestMainQueue::enqueue(Duration due, Block block) {
    entries_.push_back(Entry{due, nextSequence_++, std::move(block)});
}

std::unique_ptr<platform::Timer> TestMainQueue::scheduleTimer(Duration interval, bool repeats,
                                                              Block block) {
    auto valid = std::make_shared<bool>(true);
    tick(valid, interval, repeats, std::make_shared<Block>(std::move(block)), now_ + interval);
    return std::make_unique<TestTimer>(valid);
}

void TestMainQueue::tick(std::shared_ptr<bool> valid, Duration interval, bool repeats,
                         std::shared_ptr<Block> block, Duration due) {
    enqueue(due, [this, valid, interval, repeats, block, due] {
        if (!*valid) {
            return;
        }
        (*block)();
        if (repeats && *valid) {
            tick(valid, interval, repeats, block, due + interval);
        }
    });
}

void TestMainQueue::advanceTo(Duration target) {
    while (true) {
        auto next = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });
        if (next == entries_.end() || next->due > target) {
            break;
        }
        now_ = std::max(now_, next->due);
        Block block = std::move(next->block);
        entries_.erase(next);
        running_ = true;
        block();
        running_ = false;
    }
    now_ = std::max(now_, target);
}

}  // namespace velmora::testing
