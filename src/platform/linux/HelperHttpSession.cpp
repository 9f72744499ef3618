#include "platform/linux/HelperHttpSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/linux/HttpsWire.h"

extern char** environ;

namespace velmora::desktop {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A helper let go while idle gets this long to leave by itself before it is killed; at Quit,
// each of the two steps waits at most kQuitStep.
constexpr auto kLeaveGrace = 1s;
constexpr auto kQuitStep = 100ms;
// How often a killed helper is looked for until it has been reaped.
constexpr auto kReapRetry = 20ms;

const std::string kEnded = "Velmora's HTTPS helper ended unexpectedly";
const std::string kNotAnAnswer = "Velmora's HTTPS helper sent something that is not an answer";
const std::string kSilent = "Velmora's HTTPS helper stopped answering";

struct Command {
    enum class Kind { Start, Cancel, Prepare };
    Kind kind;
    std::uint64_t id = 0;
    platform::HttpRequest request;
    platform::HttpSession::Completion completion;
};

platform::HttpResult failure(std::string description) {
    return platform::HttpError{false, std::move(description)};
}

}  // namespace

// The work callers hand the session's thread, and the wake-up that tells it so.
class HelperHttpSession::Inbox {
  public:
    Inbox() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Inbox() { ::close(wake_); }

    std::uint64_t nextId() { return ++lastId_; }
    void post(Command command) {
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(std::move(command));
        }
        wake();
    }
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake();
    }
    // The commands posted since the last call; false once the session is going away (the
    // commands are still handed over, to be answered).
    bool take(std::vector<Command>& commands) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
        std::lock_guard lock(mutex_);
        commands.swap(commands_);
        return !stopping_;
    }
    int fd() const { return wake_; }

  private:
    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }

    const int wake_;
    std::atomic<std::uint64_t> lastId_{0};
    std::mutex mutex_;
    std::vector<Command> commands_;
    bool stopping_ = false;
};

// Everything only the session's thread touches.
class HelperHttpSession::Worker {
  public:
    Worker(std::string helperPath, Limits limits, std::shared_ptr<Inbox> inbox)
        : helperPath_(std::move(helperPath)), limits_(limits), inbox_(std::move(inbox)) {}

    void run();
    std::optional<pid_t> helperProcess() const {
        const pid_t pid = publishedPid_.load();
        return pid > 0 ? std::optional(pid) : std::nullopt;
    }

  private:
    struct Pending {
        Completion completion;
        Clock::time_point deadline;
    };
    struct Leaving {
        pid_t pid;
        Clock::time_point killAt;
        bool killed;
    };

    void handle(Command& command);
    void start(Command& command);
    void cancel(std::uint64_t id);
    bool startHelper();
    void writeSome();
    void readSome();
    void onFrame(wire::Frame& frame);
    void checkTimes();
    // Ends the helper: it is killed, or with `kill` false given a moment to leave on its own.
    // Every request it had fails with `result`.
    void endHelper(const platform::HttpResult& result, bool kill);
    void reap();
    void leaveWithin(Clock::duration wait);
    int pollTimeout() const;

    const std::string helperPath_;
    const Limits limits_;
    const std::shared_ptr<Inbox> inbox_;

    int fd_ = -1;
    pid_t pid_ = -1;
    std::atomic<pid_t> publishedPid_{-1};
    std::optional<wire::FrameReader> reader_;
    std::deque<std::string> out_;
    std::size_t outSent_ = 0;
    std::map<std::uint64_t, Pending> pending_;
    // Cancelled here at once; the helper's answer for them is still to come.
    std::set<std::uint64_t> cancelled_;
    Clock::time_point lastHeard_;
    Clock::time_point lastUsed_;
    std::vector<Leaving> leaving_;
    std::vector<char> chunk_ = std::vector<char>(64 * 1024);
};

void HelperHttpSession::Worker::run() {
    std::vector<Command> commands;
    for (;;) {
        const bool running = inbox_->take(commands);
        for (Command& command : commands) {
            if (running) {
                handle(command);
            } else if (command.completion) {
                command.completion(platform::HttpError{true, "cancelled"});
            }
        }
        commands.clear();
        if (!running) {
            break;
        }
        pollfd fds[2] = {{inbox_->fd(), POLLIN, 0},
                         {fd_, static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0}};
        ::poll(fds, fd_ >= 0 ? 2 : 1, pollTimeout());
        if (fd_ >= 0 && (fds[1].revents & POLLOUT)) {
            writeSome();
        }
        if (fd_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            readSome();
        }
        checkTimes();
        reap();
    }
    // Quitting: nobody waits for these answers any more.
    if (fd_ >= 0) {
        endHelper(platform::HttpError{true, "cancelled"}, false);
    }
    leaveWithin(kQuitStep);
}

void HelperHttpSession::Worker::handle(Command& command) {
    switch (command.kind) {
        case Command::Kind::Start:
            start(command);
            break;
        case Command::Kind::Cancel:
            cancel(command.id);
            break;
        case Command::Kind::Prepare:
            if (startHelper()) {
                out_.push_back(wire::encode(wire::Prepare{std::move(command.request.url)}));
                lastUsed_ = Clock::now();
            }
            break;
    }
}

void HelperHttpSession::Worker::start(Command& command) {
    std::string frame = wire::encode(wire::Start{command.id, std::move(command.request)});
    if (frame.size() > wire::kMaxRequestFrameBytes) {
        command.completion(failure("The request is larger than the " +
                                   std::to_string(wire::kMaxRequestFrameBytes >> 20) +
                                   " MiB Velmora sends"));
        return;
    }
    if (!startHelper()) {
        command.completion(
            failure("Velmora's HTTPS helper (" + helperPath_ + ") could not be started"));
        return;
    }
    const auto now = Clock::now();
    // A helper's silence counts from the moment it has something to answer.
    if (pending_.empty()) {
        lastHeard_ = now;
    }
    lastUsed_ = now;
    pending_.emplace(command.id, Pending{std::move(command.completion), now + limits_.deadline});
    out_.push_back(std::move(frame));
}

// The request ends here and now, whatever the helper is doing; the helper is told to drop it.
void HelperHttpSession::Worker::cancel(std::uint64_t id) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) {
        return;
    }
    Completion completion = std::move(found->second.completion);
    pending_.erase(found);
    cancelled_.insert(id);
    out_.push_back(wire::encode(wire::Cancel{id}));
    completion(platform::HttpError{true, "cancelled"});
}

bool HelperHttpSession::Worker::startHelper() {
    if (fd_ >= 0) {
        return true;
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
    if (spawned != 0 || ::fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0) {
        ::close(fds[0]);
        if (spawned == 0) {
            leaving_.push_back({pid, Clock::now(), false});
        }
        return false;
    }
    fd_ = fds[0];
    pid_ = pid;
    publishedPid_.store(pid);
    reader_.emplace(wire::kMaxAnswerFrameBytes);
    lastHeard_ = lastUsed_ = Clock::now();
    return true;
}

void HelperHttpSession::Worker::writeSome() {
    while (!out_.empty()) {
        const std::string& frame = out_.front();
        const ssize_t n = ::send(fd_, frame.data() + outSent_, frame.size() - outSent_,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                endHelper(failure(kEnded), true);
            }
            return;
        }
        outSent_ += static_cast<std::size_t>(n);
        if (outSent_ == frame.size()) {
            out_.pop_front();
            outSent_ = 0;
        }
    }
}

void HelperHttpSession::Worker::readSome() {
    while (fd_ >= 0) {
        const ssize_t n = ::read(fd_, chunk_.data(), chunk_.size());
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (n <= 0) {
            endHelper(failure(kEnded), false);
            return;
        }
        lastHeard_ = Clock::now();
        if (!reader_->append(std::string_view(chunk_.data(), static_cast<std::size_t>(n)))) {
            endHelper(failure(kNotAnAnswer), true);
            return;
        }
        while (fd_ >= 0) {
            auto frame = reader_->next();
            if (!frame) {
                break;
            }
            onFrame(*frame);
        }
    }
}

// An answer for a request the helper was never given, or has answered already, means the two
// no longer agree on anything: the helper is ended.
void HelperHttpSession::Worker::onFrame(wire::Frame& frame) {
    if (std::holds_alternative<wire::Alive>(frame)) {
        return;
    }
    auto* done = std::get_if<wire::Done>(&frame);
    if (!done) {
        endHelper(failure(kNotAnAnswer), true);
        return;
    }
    if (cancelled_.erase(done->id) > 0) {
        return;
    }
    const auto found = pending_.find(done->id);
    if (found == pending_.end()) {
        endHelper(failure(kNotAnAnswer), true);
        return;
    }
    Completion completion = std::move(found->second.completion);
    pending_.erase(found);
    lastUsed_ = Clock::now();
    completion(std::move(done->result));
}

void HelperHttpSession::Worker::checkTimes() {
    if (fd_ < 0) {
        return;
    }
    const auto now = Clock::now();
    const bool late = std::any_of(pending_.begin(), pending_.end(), [now](const auto& entry) {
        return entry.second.deadline <= now;
    });
    if (late) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limits_.deadline);
        endHelper(failure("Velmora's HTTPS helper did not finish a request within " +
                          std::to_string(seconds.count()) + " seconds"),
                  true);
    } else if (!pending_.empty() && now - lastHeard_ >= limits_.silence) {
        endHelper(failure(kSilent), true);
    } else if (pending_.empty() && now - lastUsed_ >= limits_.idle) {
        endHelper(failure(kEnded), false);
    }
}

void HelperHttpSession::Worker::endHelper(const platform::HttpResult& result, bool kill) {
    ::close(fd_);
    fd_ = -1;
    if (kill) {
        ::kill(pid_, SIGKILL);
    }
    leaving_.push_back({pid_, kill ? Clock::now() : Clock::now() + kLeaveGrace, kill});
    pid_ = -1;
    publishedPid_.store(-1);
    reader_.reset();
    out_.clear();
    outSent_ = 0;
    cancelled_.clear();
    auto failed = std::move(pending_);
    pending_.clear();
    for (auto& [id, request] : failed) {
        request.completion(result);
    }
    reap();
}

// Never waits: a helper that has not left is looked at again later, and killed once its time
// is up.
void HelperHttpSession::Worker::reap() {
    const auto now = Clock::now();
    std::erase_if(leaving_, [now](Leaving& leaving) {
        if (::waitpid(leaving.pid, nullptr, WNOHANG) != 0) {
            return true;
        }
        if (!leaving.killed && now >= leaving.killAt) {
            ::kill(leaving.pid, SIGKILL);
            leaving.killed = true;
        }
        return false;
    });
}

// At Quit: a moment for each helper to leave by itself, then one more after killing it.
void HelperHttpSession::Worker::leaveWithin(Clock::duration wait) {
    for (int step = 0; step < 2 && !leaving_.empty(); ++step) {
        const auto until = Clock::now() + wait;
        for (Leaving& leaving : leaving_) {
            leaving.killAt = std::min(leaving.killAt, until);
        }
        while (!leaving_.empty() && Clock::now() < until) {
            reap();
            std::this_thread::sleep_for(kReapRetry / 4);
        }
        reap();
    }
}

int HelperHttpSession::Worker::pollTimeout() const {
    std::optional<Clock::time_point> next;
    const auto consider = [&next](Clock::time_point at) { next = next ? std::min(*next, at) : at; };
    if (fd_ >= 0) {
        for (const auto& [id, request] : pending_) {
            consider(request.deadline);
        }
        consider(pending_.empty() ? lastUsed_ + limits_.idle : lastHeard_ + limits_.silence);
    }
    for (const Leaving& leaving : leaving_) {
        consider(leaving.killed ? Clock::now() + kReapRetry : leaving.killAt);
    }
    if (!next) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 60 * 60 * 1000));
}

class HelperHttpSession::Task : public platform::HttpTask {
  public:
    Task(std::weak_ptr<Inbox> inbox, std::uint64_t id) : inbox_(std::move(inbox)), id_(id) {}
    void cancel() override {
        if (auto inbox = inbox_.lock()) {
            inbox->post(Command{Command::Kind::Cancel, id_, {}, {}});
        }
    }

  private:
    std::weak_ptr<Inbox> inbox_;
    std::uint64_t id_;
};

HelperHttpSession::Limits HelperHttpSession::Limits::standard() {
    const auto exchange =
        std::chrono::milliseconds(std::llround(wire::kExchangeLimitSeconds * 1000.0));
    return {60s, 5s, exchange + 5s};
}

HelperHttpSession::HelperHttpSession(std::string helperPath, Limits limits)
    : inbox_(std::make_shared<Inbox>()),
      worker_(std::make_unique<Worker>(std::move(helperPath), limits, inbox_)),
      thread_([worker = worker_.get()] { worker->run(); }) {}

HelperHttpSession::~HelperHttpSession() {
    inbox_->stop();
    thread_.join();
}

std::unique_ptr<platform::HttpTask> HelperHttpSession::startDataTask(platform::HttpRequest request,
                                                                     Completion completion) {
    const std::uint64_t id = inbox_->nextId();
    inbox_->post(Command{Command::Kind::Start, id, std::move(request), std::move(completion)});
    return std::make_unique<Task>(inbox_, id);
}

void HelperHttpSession::prepare(const std::string& url) {
    platform::HttpRequest request;
    request.url = url;
    inbox_->post(Command{Command::Kind::Prepare, 0, std::move(request), {}});
}

std::optional<pid_t> HelperHttpSession::helperProcess() const {
    return worker_->helperProcess();
}

}  // namespace velmora::desktop
