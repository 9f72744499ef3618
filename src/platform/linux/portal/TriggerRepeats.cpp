#include "platform/linux/portal/TriggerRepeats.h"

#include <algorithm>

namespace velmora::desktop {
namespace {

// Repeats come every 30 to 40 ms by default; each run is a new process, which may start late.
constexpr qint64 kRepeatGapMs = 250;
// Longer than any keyboard's repeat delay (GNOME's settings go to 2 s).
constexpr qint64 kQuietMs = 2500;

}  // namespace

TriggerRepeats::TriggerRepeats(std::function<void()> pressed, std::chrono::milliseconds letGoWait)
    : pressed_(std::move(pressed)), letGoWait_(letGoWait) {
    pending_.setSingleShot(true);
    QObject::connect(&pending_, &QTimer::timeout, &pending_, [this] {
        held_ = false;
        pressed_();
    });
}

void TriggerRepeats::trigger() {
    const qint64 gap = sinceLast_.isValid() ? sinceLast_.restart() : kQuietMs;
    if (!sinceLast_.isValid()) {
        sinceLast_.start();
    }
    if (held_) {
        // The press's key repeats: it is still down.
        pending_.start(
            static_cast<int>(std::max(kRepeatGapMs, letGoWait_.count() - sinceHeld_.elapsed())));
    } else if (gap < kRepeatGapMs) {
        pending_.stop();
    } else if (letGoWait_.count() > 0) {
        held_ = true;
        sinceHeld_.start();
        pending_.start(static_cast<int>(letGoWait_.count()));
    } else if (gap >= kQuietMs) {
        pressed_();
    } else {
        pending_.start(static_cast<int>(kRepeatGapMs));
    }
}

}  // namespace velmora::desktop
