// velmora-https: the HTTPS session of a running Velmora, in a process of its own. Velmora starts
// it with a socket as standard input and output, sends it requests and cancels, and reads back one
// answer for each request; closing the socket ends it.
#include <signal.h>
#include <unistd.h>

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

std::mutex writeMutex;

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
}

}  // namespace

int main() {
    // It carries the session token in every chat request's headers.
    hardenProcess();
    ::signal(SIGPIPE, SIG_IGN);
    const auto session = makeHttpSession(60.0);
    std::mutex tasksMutex;
    std::map<std::uint64_t, std::unique_ptr<platform::HttpTask>> tasks;

    std::string buffer;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (n <= 0) {
            break;
        }
        buffer.append(chunk.data(), static_cast<std::size_t>(n));
        bool malformed = false;
        while (auto frame = wire::decode(buffer, malformed)) {
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
            }
        }
        if (malformed) {
            break;
        }
    }
    // Velmora has gone or let us go: what is still running is of no use to anyone.
    std::_Exit(0);
}
