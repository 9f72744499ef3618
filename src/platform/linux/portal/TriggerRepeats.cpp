#include "platform/linux/portal/TriggerRepeats.h"

namespace velmora::desktop {
namespace {

// Repeats come every 30 to 40 ms by default; each run is a new process, which may start late.
constexpr qint64 kRepeatGapMs = 250;
// Longer than any keyboard's repeat delay (GNOME's settings go to 2 s).
constexpr qint64 kQuietMs = 2500;

}  // namespace

TriggerRepeats::TriggerRepeats(std::function<void()> pressed) : pressed_(std::move(pressed)) {
    pending_.setSingleShot(true);
    pending_.setInterval(static_cast<int>(kRepeatGapMs));
    QObject::connect(&pending_, &QTimer::timeout, &pending_, [this] { pressed_(); });
}

void TriggerRepeats::trigger() {
    const qint64 gap = sinceLast_.isValid() ? sinceLast_.restart() : kQuietMs;
    if (!sinceLast_.isValid()) {
        sinceLast_.start();
    }
    if (gap < kRepeatGapMs) {
        pending_.stop();
    } else if (gap >= kQuietMs) {
        pressed_();
    } else {
        pending_.start();
    }
}

}  // namespace velmora::desktop
