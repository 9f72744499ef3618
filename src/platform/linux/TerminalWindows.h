#pragma once

#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace velmora::desktop {

// How the focused window copies and pastes. In a terminal Ctrl+C interrupts the running program
// and Ctrl+V is "quoted insert", so terminals get their own ways.
enum class CopyPasteStyle {
    ControlChords,     // Ctrl+C and Ctrl+V
    ShiftChords,       // Ctrl+Shift+C and Ctrl+Shift+V (most terminals)
    PrimarySelection,  // the selection is PRIMARY, Shift+Insert pastes it (xterm, rxvt)
};

// Recognises terminals by the window class of the focused window (or the first of its ancestors
// that has one). `extraClasses` are more classes the user named, handled with Shift chords.
class TerminalWindows {
  public:
    explicit TerminalWindows(std::vector<std::string> extraClasses)
        : extraClasses_(std::move(extraClasses)) {}

    CopyPasteStyle focusedStyle(Display* display) const;
    CopyPasteStyle styleForClass(const std::string& instance, const std::string& className) const;

  private:
    std::vector<std::string> extraClasses_;
};

}  // namespace velmora::desktop
