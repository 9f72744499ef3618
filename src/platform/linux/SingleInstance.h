#pragma once

#include <optional>
#include <string>

namespace velmora::desktop {

// One Velmora per user. A folder only this user can reach holds a lock file and the instance
// socket: the process that holds the lock is the instance, for as long as it runs, and listens on
// the socket; any other start hands its one line (a URL, the trigger, or nothing) to it and exits.
// Both ends check that the other runs as this user before a line passes.
class SingleInstance {
  public:
    enum class Start {
        Instance,    // this process is the instance: serve listenFd()
        HandedOver,  // the running instance has the line
        NotRunning,  // no instance, and this start may not become one
        Failed,      // no safe folder or no answer; the reason is logged
    };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Hands `line` to the running instance or, when `mayBecomeInstance`, becomes it. Of several
    // starts at once exactly one becomes the instance; the others hand over to it.
    Start start(const std::string& line, bool mayBecomeInstance);
    // The listening socket once this process is the instance; owned here.
    int listenFd() const { return listenFd_; }

    // The folder for the lock and the socket: $XDG_RUNTIME_DIR when it is this user's alone, else
    // velmora-UID under the temporary folder or the cache folder, made or found to be a real folder
    // owned by this user with mode 0700. None when there is no such folder.
    static std::optional<std::string> folder();
    // Whether the process at the other end of the connected socket `fd` runs as this user.
    static bool peerIsThisUser(int fd);

  private:
    enum class HandOver { Delivered, NoAnswer, Refused };

    HandOver handOver(const std::string& line) const;
    bool bindSocket();

    std::string socketPath_;
    int lockFd_ = -1;
    int listenFd_ = -1;
};

}  // namespace velmora::desktop
