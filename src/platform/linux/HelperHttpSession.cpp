#include "platform/linux/HelperHttpSession.h"

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/linux/HttpsWire.h"

extern char** environ;

namespace velmora::desktop {

class HelperHttpSession::Task : public platform::HttpTask {
  public:
    Task(HelperHttpSession& session, std::uint64_t id) : session_(session), id_(id) {}
    void cancel() override { session_.cancel(id_); }

  private:
    HelperHttpSession& session_;
    std::uint64_t id_;
};

HelperHttpSession::HelperHttpSession(std::string helperPath, std::chrono::milliseconds idleLimit)
    : helperPath_(std::move(helperPath)), idleLimit_(idleLimit) {}

HelperHttpSession::~HelperHttpSession() {
    std::unique_lock lock(mutex_);
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
    }
    lock.unlock();
    if (reader_.joinable()) {
        reader_.join();
    }
}

bool HelperHttpSession::helperRunning() {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

// Called with the mutex held.
bool HelperHttpSession::startHelper() {
    if (reader_.joinable()) {
        // The last helper's reader has let it go and takes the mutex no more.
        reader_.join();
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(helperPath_.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, helperPath_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return false;
    }
    fd_ = fds[0];
    pid_ = pid;
    lastActivity_ = std::chrono::steady_clock::now();
    reader_ = std::thread([this, fd = fd_] { readFrames(fd); });
    return true;
}

bool HelperHttpSession::send(const std::string& frame) {
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::unique_ptr<platform::HttpTask> HelperHttpSession::startDataTask(platform::HttpRequest request,
                                                                     Completion completion) {
    std::unique_lock lock(mutex_);
    const std::uint64_t id = ++nextId_;
    if ((fd_ < 0 && !startHelper()) || !send(wire::encode(wire::Start{id, std::move(request)}))) {
        lock.unlock();
        completion(platform::HttpError{
            false, "Velmora's HTTPS helper (" + helperPath_ + ") could not be started"});
        return std::make_unique<Task>(*this, 0);
    }
    pending_.emplace(id, std::move(completion));
    lastActivity_ = std::chrono::steady_clock::now();
    return std::make_unique<Task>(*this, id);
}

void HelperHttpSession::cancel(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    if (pending_.contains(id)) {
        send(wire::encode(wire::Cancel{id}));
    }
}

// The reader's thread: hands each answer to its completion, and lets the helper go once it has
// had nothing to do for the idle limit, or when it ends on its own.
void HelperHttpSession::readFrames(int fd) {
    std::string buffer;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) {
                const auto idle = std::chrono::steady_clock::now() - lastActivity_;
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(idleLimit_ - idle);
                if (left.count() <= 0) {
                    // Closing our end tells the helper to finish.
                    ::close(fd_);
                    fd_ = -1;
                    break;
                }
                timeout = static_cast<int>(left.count());
            }
        }
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, timeout) == 0) {
            continue;
        }
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n <= 0) {
            failAll("Velmora's HTTPS helper ended unexpectedly");
            break;
        }
        buffer.append(chunk.data(), static_cast<std::size_t>(n));
        bool malformed = false;
        while (auto frame = wire::decode(buffer, malformed)) {
            auto* done = std::get_if<wire::Done>(&*frame);
            Completion completion;
            {
                std::lock_guard lock(mutex_);
                const auto found = done ? pending_.find(done->id) : pending_.end();
                if (found == pending_.end()) {
                    continue;
                }
                completion = std::move(found->second);
                pending_.erase(found);
                lastActivity_ = std::chrono::steady_clock::now();
            }
            completion(std::move(done->result));
        }
        if (malformed) {
            failAll("Velmora's HTTPS helper sent something that is not an answer");
            break;
        }
    }
    ::waitpid(pid_, nullptr, 0);
}

void HelperHttpSession::failAll(const std::string& description) {
    std::map<std::uint64_t, Completion> failed;
    {
        std::lock_guard lock(mutex_);
        failed.swap(pending_);
        ::close(fd_);
        fd_ = -1;
    }
    for (auto& [id, completion] : failed) {
        completion(platform::HttpError{false, description});
    }
}

}  // namespace velmora::desktop
