#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace velmora::platform {

// A timer on the main queue. Invalidating it stops further ticks; a block already queued by a tick
// still runs. Destroying it invalidates it.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
};

// The serial main queue. A running block holds the queue: the next block starts only after it
// returns, also when the block runs a modal dialog. `async` may be called from any thread; the
// other operations are called on the main thread.
class MainQueue {
  public:
    using Block = std::function<void()>;
    using Duration = std::chrono::milliseconds;

    virtual ~MainQueue() = default;
    virtual void async(Block block) = 0;
    virtual void asyncAfter(Duration delay, Block block) = 0;
    // Runs `block` on the main queue every `interval` (once when not repeating), first `interval`
    // from now.
    virtual std::unique_ptr<Timer> scheduleTimer(Duration interval, bool repeats, Block block) = 0;
    // Whether a block is running now: seen from event dispatch, a modal notice or dialog (or
    // another long call) holds the queue.
    virtual bool isRunningBlock() const = 0;
};

}  // namespace velmora::platform
