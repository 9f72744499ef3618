#include "platform/linux/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/Log.h"

namespace velmora::desktop {
namespace {

using namespace std::chrono_literals;

// The instance listens right after it takes the lock: a start that finds the lock taken waits this
// long for it to answer.
constexpr auto kAnswerTimeout = 5s;
// How long a start waits for the instance to take in its line.
constexpr int kReceiptTimeoutMs = 10000;

std::string lastError() {
    return std::strerror(errno);
}

// Why `path` is no folder for this user alone, or none when it is one. lstat, so that a link is
// refused even when it leads to a good folder. With `ownerOnly` group and others get no access at
// all; otherwise (the session's runtime folder) they only may not write.
std::optional<std::string> unsafeFolder(const std::string& path, bool ownerOnly) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return lastError();
    }
    if (!S_ISDIR(info.st_mode)) {
        return "not a folder";
    }
    if (info.st_uid != ::getuid()) {
        return "owned by another user";
    }
    if ((info.st_mode & (ownerOnly ? 077 : 022)) != 0) {
        return "open to other users";
    }
    return std::nullopt;
}

std::string absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? value : "";
}

// The socket's address, or none for a path too long for one.
std::optional<sockaddr_un> addressFor(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool isActionName(std::string_view name) {
    return !name.empty() && name.size() <= 64 &&
           name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") ==
               std::string_view::npos;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

}  // namespace

std::string InstanceRequest::line() const {
    switch (kind) {
        case Kind::Reopen:
            return {};
        case Kind::Trigger:
            return std::string(kTriggerArgument);
        case Kind::Action:
            return std::string(kActionPrefix) + value;
        case Kind::Url:
            break;
    }
    return value;
}

InstanceMessage InstanceMessage::read(std::string_view received, bool ended) {
    const std::size_t end = received.find('\n');
    if (end == std::string_view::npos) {
        // A start that ends without a newline had nothing to say.
        return {ended || received.size() > InstanceRequest::kMaxBytes, std::nullopt};
    }
    if (end > InstanceRequest::kMaxBytes) {
        return {true, std::nullopt};
    }
    const std::string_view line = trimmed(received.substr(0, end));
    using Kind = InstanceRequest::Kind;
    if (line.empty()) {
        return {true, InstanceRequest{Kind::Reopen, {}}};
    }
    if (line == InstanceRequest::kTriggerArgument) {
        return {true, InstanceRequest{Kind::Trigger, {}}};
    }
    if (line.starts_with(InstanceRequest::kActionPrefix)) {
        const std::string_view name = line.substr(InstanceRequest::kActionPrefix.size());
        if (!isActionName(name)) {
            return {true, std::nullopt};
        }
        return {true, InstanceRequest{Kind::Action, std::string(name)}};
    }
    // Any other option is one this release does not know.
    if (line.front() == '-') {
        return {true, std::nullopt};
    }
    return {true, InstanceRequest{Kind::Url, std::string(line)}};
}

bool SingleInstance::peerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

SingleInstance::~SingleInstance() {
    if (listenFd_ >= 0) {
        // Still under the lock, so the socket file is this instance's own.
        ::unlink(socketPath_.c_str());
        ::close(listenFd_);
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
}

std::optional<std::string> SingleInstance::folder() {
    const std::string runtime = absoluteFromEnvironment("XDG_RUNTIME_DIR");
    if (!runtime.empty()) {
        const auto problem = unsafeFolder(runtime, false);
        if (!problem) {
            return runtime;
        }
        logLine("Not using " + runtime + " for the instance socket: " + *problem);
    }
    std::string temporary = absoluteFromEnvironment("TMPDIR");
    std::string cache = absoluteFromEnvironment("XDG_CACHE_HOME");
    const std::string home = absoluteFromEnvironment("HOME");
    if (temporary.empty()) {
        temporary = "/tmp";
    }
    if (cache.empty() && !home.empty()) {
        cache = home + "/.cache";
    }
    // Another user may make velmora-UID in the shared temporary folder first; the cache folder,
    // in this user's home, is then the place.
    for (const std::string& parent : {temporary, cache}) {
        if (parent.empty()) {
            continue;
        }
        const std::string candidate = parent + "/velmora-" + std::to_string(::getuid());
        // A folder that exists already is only checked, never changed.
        ::mkdir(parent.c_str(), 0700);
        ::mkdir(candidate.c_str(), 0700);
        const auto problem = unsafeFolder(candidate, true);
        if (!problem) {
            return candidate;
        }
        logLine("Not using " + candidate + " for the instance socket: " + *problem);
    }
    return std::nullopt;
}

SingleInstance::Start SingleInstance::start(const std::optional<std::string>& line) {
    const auto folder = SingleInstance::folder();
    if (!folder) {
        logLine("No private folder for the instance socket: Velmora does not start.");
        return Start::Failed;
    }
    socketPath_ = *folder + "/velmora.socket";
    const std::string lockPath = *folder + "/velmora.lock";
    lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
        logLine("Could not open " + lockPath + ": " + lastError());
        return Start::Failed;
    }
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    for (;;) {
        const bool locked = ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0;
        if (!locked && errno != EWOULDBLOCK) {
            logLine("Could not lock " + lockPath + ": " + lastError());
            return Start::Failed;
        }
        // Even under the lock a live socket is asked first, and left alone when it answers: an
        // instance of an earlier release takes no lock.
        switch (handOver(line)) {
            case HandOver::Delivered:
                return Start::HandedOver;
            case HandOver::Refused:
                return Start::Failed;
            case HandOver::NoAnswer:
                break;
        }
        if (locked) {
            return bindSocket() ? Start::Instance : Start::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            logLine("The running Velmora does not answer on " + socketPath_);
            return Start::Failed;
        }
        std::this_thread::sleep_for(20ms);
    }
}

SingleInstance::HandOver SingleInstance::handOver(const std::optional<std::string>& line) const {
    const auto address = addressFor(socketPath_);
    const int fd = address ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    if (fd < 0) {
        return HandOver::NoAnswer;
    }
    HandOver result = HandOver::NoAnswer;
    // No connection: the instance is starting, or the file is left from one that ended.
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
    if (connected && !peerIsThisUser(fd)) {
        logLine("The instance socket " + socketPath_ + " is another user's: nothing handed over.");
        result = HandOver::Refused;
    } else if (connected && (!line || writeAll(fd, *line + "\n"))) {
        // The instance closes its end once it has the line: this start ends only after that.
        ::shutdown(fd, SHUT_WR);
        pollfd readable{fd, POLLIN, 0};
        char byte = 0;
        while (::poll(&readable, 1, kReceiptTimeoutMs) > 0 && ::read(fd, &byte, 1) > 0) {
        }
        result = HandOver::Delivered;
    }
    ::close(fd);
    return result;
}

bool SingleInstance::bindSocket() {
    const auto address = addressFor(socketPath_);
    if (!address) {
        logLine("The instance socket's path is too long: " + socketPath_);
        return false;
    }
    // Only the lock holder gets here, and nobody answered: the file is left from an instance that
    // ended.
    ::unlink(socketPath_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // The socket file is made 0600: besides the folder, a second fence against other users.
    const mode_t previousMask = ::umask(0177);
    const bool listening =
        listenFd_ >= 0 &&
        ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 &&
        ::listen(listenFd_, 16) == 0;
    ::umask(previousMask);
    if (!listening) {
        logLine("Could not listen for other Velmora starts: " + lastError());
        if (listenFd_ >= 0) {
            ::close(listenFd_);
        }
        listenFd_ = -1;
        return false;
    }
    return true;
}

}  // namespace velmora::desktop
