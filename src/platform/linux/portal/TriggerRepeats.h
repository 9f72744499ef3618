#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <functional>

namespace velmora::desktop {

// One press for the runs of `velmora --trigger` that a held key makes: GNOME's custom shortcuts
// run the command again for every repeat of the keyboard, and so does sway's bindsym without
// --no-repeat. Without `letGoWait`, a run long after the last one is a press and goes on at once;
// a run sooner after it waits a moment, and is dropped as a repeat, with every run that follows
// closely, if another run follows within that moment. With `letGoWait`, for keystrokes that
// share the user's held keys, every press waits for its keys to be let go: it goes on `letGoWait`
// after its run, or, while its key repeats, a moment after the last repeat. Main thread only.
class TriggerRepeats {
  public:
    explicit TriggerRepeats(std::function<void()> pressed,
                            std::chrono::milliseconds letGoWait = std::chrono::milliseconds(0));
    void trigger();

  private:
    std::function<void()> pressed_;
    const std::chrono::milliseconds letGoWait_;
    QElapsedTimer sinceLast_;
    QElapsedTimer sinceHeld_;  // since the run of the press that waits for its keys
    bool held_ = false;
    QTimer pending_;
};

}  // namespace velmora::desktop
