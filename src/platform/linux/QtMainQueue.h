#pragma once

#include <QObject>
#include <QTimer>
#include <deque>
#include <mutex>

#include "platform/MainQueue.h"

namespace velmora::desktop {

// The serial main queue on the Qt event loop. Blocks run one at a time: while a block runs a
// modal dialog, Qt's nested event loop keeps dispatching, but the next block waits until the
// running one returns. Delayed blocks and timer ticks join the same queue when due.
class QtMainQueue : public QObject, public platform::MainQueue {
    Q_OBJECT
  public:
    QtMainQueue();

    void async(Block block) override;
    void asyncAfter(Duration delay, Block block) override;
    std::unique_ptr<platform::Timer> scheduleTimer(Duration interval, bool repeats,
                                                   Block block) override;
    bool isRunningBlock() const override;

    // Whether no block is running or waiting (for tests and the shutdown).
    bool isIdle() const;

  private:
    void scheduleDrain();
    void runNext();
    void returnFreeMemory();

    QTimer settle_;
    mutable std::mutex mutex_;
    std::deque<Block> pending_;
    bool drainScheduled_ = false;
    bool running_ = false;
};

}  // namespace velmora::desktop
