#include "platform/linux/XdgAutostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace velmora::desktop {
namespace {

// One word of a desktop entry's Exec value: quoted when it holds a reserved character, with the
// quoting's escapes; then each backslash written twice, as in every string value, and % doubled.
std::string execWord(const std::string& word) {
    if (word.find_first_of(" \t\"'\\><~|&;$*?#()`%") == std::string::npos) {
        return word;
    }
    std::string quoted = "\"";
    for (const char c : word) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (const char c : quoted) {
        value += c == '\\' ? "\\\\" : c == '%' ? "%%" : std::string(1, c);
    }
    return value;
}

std::string configHome() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return config;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// The Exec value of the user's own desktop entry when it is the entry of `program` (its TryExec):
// the run command's entry starts that build through the run command, with the local service.
std::optional<std::string> userEntryExec(const std::string& program) {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::ifstream entry((data != nullptr && data[0] == '/'
                             ? std::string(data)
                             : std::string(home != nullptr ? home : "") + "/.local/share") +
                        "/applications/app.velmora.Velmora.desktop");
    std::optional<std::string> exec;
    bool forProgram = false;
    // The [Desktop Entry] group only: the actions that follow have Exec lines of their own.
    for (std::string line; std::getline(entry, line) && !line.starts_with("[Desktop Action");) {
        forProgram = forProgram || line == "TryExec=" + program;
        if (line.starts_with("Exec=")) {
            exec = line.substr(5);
        }
    }
    return forProgram ? exec : std::nullopt;
}

}  // namespace

std::string XdgAutostart::entryPath() {
    return configHome() + "/autostart/app.velmora.Velmora.desktop";
}

bool XdgAutostart::enabled() const {
    std::ifstream entry(entryPath());
    if (!entry) {
        return false;
    }
    for (std::string line; std::getline(entry, line);) {
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") {
            return false;
        }
    }
    return true;
}

std::optional<std::string> XdgAutostart::setEnabled(bool on) const {
    if (on) {
        return write();
    }
    const std::string path = entryPath();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return "Velmora could not remove " + path +
               ", the entry that starts it at login: " + std::strerror(errno) + ".";
    }
    return std::nullopt;
}

// Written beside its final name and renamed over it, so a desktop never reads half an entry.
std::optional<std::string> XdgAutostart::write() const {
    const std::string path = entryPath();
    if (program_.find('\n') != std::string::npos) {
        return "Velmora cannot start at login from a file whose name holds a line break: " +
               program_;
    }
    std::ostringstream text;
    text << "[Desktop Entry]\nType=Application\nName=Velmora\n"
            "Comment=Rewrite the selected text in any application\nExec="
         << userEntryExec(program_).value_or(execWord(program_))
         << "\nIcon=velmora\nTerminal=false\n"
         << "X-GNOME-Autostart-enabled=true\n";
    const std::string contents = text.str();
    const std::string temporary = path + ".new";
    ::mkdir(folderOf(folderOf(path)).c_str(), 0700);
    ::mkdir(folderOf(path).c_str(), 0700);
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    bool written = fd >= 0 && ::write(fd, contents.data(), contents.size()) ==
                                  static_cast<ssize_t>(contents.size());
    written = fd >= 0 && ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string error = std::strerror(errno);
        ::unlink(temporary.c_str());
        return "Velmora could not write " + path + ", the entry that starts it at login: " + error +
               ".";
    }
    return std::nullopt;
}

}  // namespace velmora::desktop
