// Placeholder until the libcurl session lands: every request fails at once.
#include "platform/linux/LinuxServices.h"

namespace velmora::desktop {
namespace {

class UnavailableTask : public platform::HttpTask {
  public:
    void cancel() override {}
};

class UnavailableSession : public platform::HttpSession {
  public:
    std::shared_ptr<platform::HttpTask> startDataTask(platform::HttpRequest,
                                                      Completion completion) override {
        completion(std::nullopt, std::nullopt, platform::HttpError{1, "HTTP is not available"});
        return std::make_shared<UnavailableTask>();
    }
};

}  // namespace

std::unique_ptr<platform::HttpSession> makeHttpSession(double) {
    return std::make_unique<UnavailableSession>();
}

}  // namespace velmora::desktop
