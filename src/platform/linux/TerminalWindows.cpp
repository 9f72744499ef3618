#include "platform/linux/TerminalWindows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace velmora::desktop {
namespace {

// Window classes (instance or class name, lower case) of the terminals people use.
constexpr std::array<std::string_view, 7> kPrimarySelectionTerminals = {
    "xterm", "uxterm", "urxvt", "rxvt", "rxvt-unicode", "aterm", "eterm"};
constexpr std::array<std::string_view, 30> kShiftChordTerminals = {"gnome-terminal",
                                                                   "gnome-terminal-server",
                                                                   "konsole",
                                                                   "xfce4-terminal",
                                                                   "terminator",
                                                                   "tilix",
                                                                   "com.gexperts.tilix",
                                                                   "kitty",
                                                                   "alacritty",
                                                                   "org.wezfurlong.wezterm",
                                                                   "wezterm",
                                                                   "wezterm-gui",
                                                                   "st",
                                                                   "st-256color",
                                                                   "lxterminal",
                                                                   "mate-terminal",
                                                                   "qterminal",
                                                                   "sakura",
                                                                   "terminology",
                                                                   "guake",
                                                                   "tilda",
                                                                   "yakuake",
                                                                   "kgx",
                                                                   "org.gnome.console",
                                                                   "foot",
                                                                   "footclient",
                                                                   "cool-retro-term",
                                                                   "deepin-terminal",
                                                                   "contour",
                                                                   "com.raggesilver.blackbox"};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool listed(const auto& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace

CopyPasteStyle TerminalWindows::styleForClass(const std::string& instance,
                                              const std::string& className) const {
    for (const std::string& name : {lower(instance), lower(className)}) {
        if (listed(kPrimarySelectionTerminals, name)) {
            return CopyPasteStyle::PrimarySelection;
        }
        if (listed(kShiftChordTerminals, name)) {
            return CopyPasteStyle::ShiftChords;
        }
        for (const std::string& extra : extraClasses_) {
            if (!extra.empty() && lower(extra) == name) {
                return CopyPasteStyle::ShiftChords;
            }
        }
    }
    return CopyPasteStyle::ControlChords;
}

CopyPasteStyle TerminalWindows::focusedStyle(Display* display) const {
    Window window = None;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    // The focus may sit on a child of the application's window; its class is on an ancestor.
    while (window != None && window != PointerRoot) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint) != 0) {
            const std::string instance = hint.res_name ? hint.res_name : "";
            const std::string className = hint.res_class ? hint.res_class : "";
            XFree(hint.res_name);
            XFree(hint.res_class);
            return styleForClass(instance, className);
        }
        Window root = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) {
            break;
        }
        XFree(children);
        window = parent == root ? None : parent;
    }
    return CopyPasteStyle::ControlChords;
}

}  // namespace velmora::desktop
