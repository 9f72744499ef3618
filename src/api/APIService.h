#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Http.h"
#include "platform/MainQueue.h"
#include "settings/AIProvider.h"

namespace velmora {

// Nothing of the request path calls it; every outcome goes through the completion.
class APIServiceDelegate {
  public:
    virtual ~APIServiceDelegate() = default;
};

inline constexpr const char* kDefaultInstruction =
    "Act as a helpful AI assistant to process the following text.";

// Turns one text into exactly one result string: the processed text, or an error text that begins
// with "[Error:". The completion always runs later, on the main queue.
class APIService {
  public:
    using Completion = std::function<void(const std::string& result)>;

    APIService(platform::HttpSession& session, platform::MainQueue& mainQueue,
               std::string localProxyEndpoint, std::vector<AIProvider> providers);

    std::weak_ptr<APIServiceDelegate> delegate;

    // The handle of the started request, or none when the call failed before sending.
    std::shared_ptr<platform::HttpTask> callLocalProxy(
        const std::string& text, const std::string& model,
        const std::optional<std::string>& userInstructions,
        const std::optional<std::string>& authToken, Completion completion);

    const std::string& localProxyEndpoint() const { return localProxyEndpoint_; }

  private:
    void deliverResult(std::string result, Completion completion);
    // The same hop for the response handler, which must not reach the service itself.
    static void deliverResult(platform::MainQueue& mainQueue, std::string result,
                              Completion completion);

    platform::HttpSession& session_;
    platform::MainQueue& mainQueue_;
    const std::string localProxyEndpoint_;
    const std::vector<AIProvider> providers_;
};

}  // namespace velmora
