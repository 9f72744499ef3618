#pragma once

#include <sys/types.h>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Http.h"

namespace velmora::desktop {

// The HTTPS session in a helper process of its own (velmora-https), started with the first request
// and ended after a while without one: TLS, certificates and the HTTP stack cost the program
// nothing while it waits for the next rewrite, and consecutive requests still share the helper's
// connection. Completions run on a thread of this session.
class HelperHttpSession : public platform::HttpSession {
  public:
    HelperHttpSession(std::string helperPath, std::chrono::milliseconds idleLimit);
    ~HelperHttpSession() override;

    std::unique_ptr<platform::HttpTask> startDataTask(platform::HttpRequest request,
                                                      Completion completion) override;

    // Whether the helper process runs now.
    bool helperRunning();

  private:
    class Task;

    bool startHelper();
    bool send(const std::string& frame);
    void readFrames(int fd);
    void cancel(std::uint64_t id);
    void failAll(const std::string& description);

    const std::string helperPath_;
    const std::chrono::milliseconds idleLimit_;
    std::mutex mutex_;
    int fd_ = -1;
    pid_t pid_ = -1;
    std::thread reader_;
    std::uint64_t nextId_ = 0;
    std::map<std::uint64_t, Completion> pending_;
    std::chrono::steady_clock::time_point lastActivity_;
};

}  // namespace velmora::desktop
