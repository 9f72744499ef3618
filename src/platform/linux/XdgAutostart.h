#pragma once

#include <optional>
#include <string>

namespace velmora::desktop {

// Starting at login through the desktop's XDG autostart folder: the entry
// $XDG_CONFIG_HOME/autostart/app.velmora.Velmora.desktop runs `program` when the user logs in, or
// what the user's own desktop entry for `program` runs (the run command makes one for its build).
// Every desktop that follows the XDG autostart rules (GNOME, KDE, Xfce, and sway or others with a
// runner such as dex) reads it.
class XdgAutostart {
  public:
    explicit XdgAutostart(std::string program) : program_(std::move(program)) {}

    static std::string entryPath();
    // The entry is there and not switched off (Hidden=true, or GNOME's
    // X-GNOME-Autostart-enabled=false, written by a desktop's own settings).
    bool enabled() const;
    // Writes or removes the entry: none when done, else why not, in plain words.
    std::optional<std::string> setEnabled(bool on) const;

  private:
    std::optional<std::string> write() const;

    const std::string program_;
};

}  // namespace velmora::desktop
