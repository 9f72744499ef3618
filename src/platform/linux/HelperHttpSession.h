#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/Http.h"

namespace velmora::desktop {

// The HTTPS session in a helper process of its own (velmora-https), started with the first request
// or preparation and let go after a while without one: TLS, certificates and the HTTP stack cost
// the program nothing while it waits for the next rewrite, and consecutive requests still share
// the helper's connection.
//
// A thread of the session's own does everything that involves the helper: starting it, writing
// to it and reading from it on a non-blocking socket, keeping the deadlines and ending it. The
// calls below only hand that thread work, so none of them waits on the helper, whatever state it
// is in. Completions run on that thread.
class HelperHttpSession : public platform::HttpSession {
  public:
    struct Limits {
        // Without a request for this long, the helper is let go.
        std::chrono::milliseconds idle;
        // A helper with requests in hand that sends nothing for this long is taken for hung: it
        // sends word at least once a second while it works.
        std::chrono::milliseconds silence;
        // No request outlives this: the helper's own limit for a whole exchange, and a margin.
        std::chrono::milliseconds deadline;

        static Limits standard();
    };

    HelperHttpSession(std::string helperPath, Limits limits);
    ~HelperHttpSession() override;

    std::unique_ptr<platform::HttpTask> startDataTask(platform::HttpRequest request,
                                                      Completion completion) override;
    void prepare(const std::string& url) override;

    // The helper's process while one runs.
    std::optional<pid_t> helperProcess() const;

  private:
    class Inbox;
    class Worker;
    class Task;

    std::shared_ptr<Inbox> inbox_;
    std::unique_ptr<Worker> worker_;
    std::thread thread_;
};

}  // namespace velmora::desktop
