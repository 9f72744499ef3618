#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/ProxyResult.h"
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

// Turns one text into exactly one result: the processed text, an error of a kind with its
// "[Error: ...]" text, or a cancellation. The completion always runs later, on the main queue.
class APIService {
  public:
    using Completion = std::function<void(ProxyResult result)>;

    APIService(platform::HttpSession& session, platform::MainQueue& mainQueue,
               std::string localProxyEndpoint, std::vector<AIProvider> providers);

    // The application delegate, which owns this service; never owned from here.
    APIServiceDelegate* delegate = nullptr;

    // The handle of the started request, or none when the call failed before sending.
    std::unique_ptr<platform::HttpTask> callLocalProxy(
        const std::string& text, const std::string& model,
        const std::optional<std::string>& userInstructions,
        const std::optional<std::string>& authToken, Completion completion);

    const std::string& localProxyEndpoint() const { return localProxyEndpoint_; }
    // A call is likely soon: the way to the endpoint may get ready meanwhile.
    void prepareConnection() { session_.prepare(localProxyEndpoint_); }

  private:
    void deliverResult(ProxyResult result, Completion completion);
    // The same hop for the response handler, which must not reach the service itself.
    static void deliverResult(platform::MainQueue& mainQueue, ProxyResult result,
                              Completion completion);

    platform::HttpSession& session_;
    platform::MainQueue& mainQueue_;
    const std::string localProxyEndpoint_;
    const std::vector<AIProvider> providers_;
};

}  // namespace velmora
