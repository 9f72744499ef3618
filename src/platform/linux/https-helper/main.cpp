// velmora-https: the HTTPS session of a running Velmora, in a process of its own. Velmora starts
// it with a socket as standard input and output, sends it requests, cancels and preparations, and
// reads back one answer for each request, and word at least once a second while any is in hand;
// closing the socket ends it.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/HttpsWire.h"
#include "platform/linux/ProcessHardening.h"

namespace {

using namespace velmora;
using namespace velmora::desktop;
using Clock = std::chrono::steady_clock;

const auto kAliveInterval =
    std::chrono::milliseconds(std::llround(wire::kAliveIntervalSeconds * 1000.0));

std::mutex writeMutex;
Clock::time_point lastWritten = Clock::now();

void writeFrame(const std::string& frame) {
    std::lock_guard lock(writeMutex);
    std::size_t written = 0;
    while (written < frame.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, frame.data() + written, frame.size() - written);
        if (n <= 0) {
            return;
        }
        written += static_cast<std::size_t>(n);
    }
    lastWritten = Clock::now();
}

// How long until Velmora is owed word that the helper still works: none while it has no request.
int aliveTimeout(bool busy) {
    if (!busy) {
        return -1;
    }
    std::lock_guard lock(writeMutex);
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(lastWritten + kAliveInterval - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

}  // namespace

int main() {
    // It carries the session token in every chat request's headers.
    hardenProcess();
    // It goes when the thread of Velmora's that started it goes, even stopped; one that went
    // before this point has closed the socket, which ends the helper below.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::signal(SIGPIPE, SIG_IGN);
    const auto session = makeHttpSession(60.0, wire::kExchangeLimitSeconds);
    std::mutex tasksMutex;
    std::map<std::uint64_t, std::unique_ptr<platform::HttpTask>> tasks;
    const auto busy = [&] {
        std::lock_guard lock(tasksMutex);
        return !tasks.empty();
    };

    wire::FrameReader reader(wire::kMaxRequestFrameBytes);
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, aliveTimeout(busy())) == 0) {
            writeFrame(wire::encode(wire::Alive{}));
            continue;
        }
        const ssize_t n = ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (n <= 0 || !reader.append(std::string_view(chunk.data(), static_cast<std::size_t>(n)))) {
            break;
        }
        while (auto frame = reader.next()) {
            if (auto* start = std::get_if<wire::Start>(&*frame)) {
                const std::uint64_t id = start->id;
                std::lock_guard lock(tasksMutex);
                tasks[id] = session->startDataTask(
                    std::move(start->request),
                    [id, &tasks, &tasksMutex](platform::HttpResult result) {
                        writeFrame(wire::encode(wire::Done{id, std::move(result)}));
                        std::lock_guard lock(tasksMutex);
                        tasks.erase(id);
                    });
            } else if (auto* cancel = std::get_if<wire::Cancel>(&*frame)) {
                std::lock_guard lock(tasksMutex);
                if (const auto found = tasks.find(cancel->id); found != tasks.end()) {
                    found->second->cancel();
                }
            } else if (auto* prepare = std::get_if<wire::Prepare>(&*frame)) {
                session->prepare(prepare->url);
            }
        }
    }
    // Velmora has gone or let us go: what is still running is of no use to anyone.
    std::_Exit(0);
}
