// Placeholder until the proxy client lands: every call reports that nothing was sent.
#include "api/APIService.h"

namespace velmora {

APIService::APIService(platform::HttpSession& session, platform::MainQueue& mainQueue,
                       std::string localProxyEndpoint, std::vector<AIProvider> providers)
    : session_(session),
      mainQueue_(mainQueue),
      localProxyEndpoint_(std::move(localProxyEndpoint)),
      providers_(std::move(providers)) {}

std::shared_ptr<platform::HttpTask> APIService::callLocalProxy(const std::string&,
                                                               const std::string&,
                                                               const std::optional<std::string>&,
                                                               const std::optional<std::string>&,
                                                               Completion completion) {
    deliverResult("[Error: Invalid URL]", std::move(completion));
    return nullptr;
}

void APIService::deliverResult(std::string result, Completion completion) {
    mainQueue_.async(
        [result = std::move(result), completion = std::move(completion)] { completion(result); });
}

}  // namespace velmora
