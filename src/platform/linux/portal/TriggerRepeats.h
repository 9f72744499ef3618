#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace velmora::desktop {

// One press for the runs of `velmora --trigger` that a held key makes: GNOME's custom shortcuts
// run the command again for every repeat of the keyboard, and so does sway's bindsym without
// --no-repeat. A run long after the last one is a press and goes on at once; a run sooner after it
// waits a moment, and is dropped as a repeat, with every run that follows closely, if another run
// follows within that moment. A deliberate second press, which cancels a rewrite, goes on that
// moment late. Main thread only.
class TriggerRepeats {
  public:
    explicit TriggerRepeats(std::function<void()> pressed);
    void trigger();

  private:
    std::function<void()> pressed_;
    QElapsedTimer sinceLast_;
    QTimer pending_;
};

}  // namespace velmora::desktop
