#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::desktop {

// What a later start asks of the instance: the one line it sends on the instance socket.
struct InstanceRequest {
    enum class Kind {
        Reopen,   // a plain `velmora`: show Velmora
        Trigger,  // `velmora --trigger`: rewrite the selection
        Action,   // `velmora --action=NAME`: a desktop launcher's action; `value` is its name
        Url,      // `velmora URL`: `value` is the URL
    };
    Kind kind = Kind::Reopen;
    std::string value;

    static constexpr std::string_view kTriggerArgument = "--trigger";
    static constexpr std::string_view kActionPrefix = "--action=";
    // The longest message a start may send; more than any URL we expect.
    static constexpr std::size_t kMaxBytes = 64 * 1024;

    // The line a start sends for this request, without its newline.
    std::string line() const;
    bool operator==(const InstanceRequest&) const = default;
};

// Reads a start's message from what has arrived so far, `ended` once the start has closed its end.
struct InstanceMessage {
    // Nothing more is to be read: a whole line, the end, or more than any request.
    bool complete = false;
    // What the line asks, when it is whole and well-formed.
    std::optional<InstanceRequest> request;

    static InstanceMessage read(std::string_view received, bool ended);
};

// One Velmora per user. A folder only this user can reach holds a lock file and the instance
// socket: the process that holds the lock is the instance, for as long as it runs, and listens on
// the socket; any other start hands its one line (an InstanceRequest), or nothing at all, to it and
// exits. Both ends check that the other runs as this user before a line passes.
class SingleInstance {
  public:
    enum class Start {
        Instance,    // this process is the instance: serve listenFd()
        HandedOver,  // the running instance has the line
        Failed,      // no safe folder or no answer; the reason is logged
    };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Hands `line` (none: nothing) to the running instance, or becomes it. Of several starts at
    // once exactly one becomes the instance; the others hand over to it.
    Start start(const std::optional<std::string>& line);
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

    HandOver handOver(const std::optional<std::string>& line) const;
    bool bindSocket();

    std::string socketPath_;
    int lockFd_ = -1;
    int listenFd_ = -1;
};

}  // namespace velmora::desktop
