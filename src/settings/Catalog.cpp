#include "settings/Catalog.h"

namespace velmora {

std::vector<AIProvider> builtInProviders() {
    return {AIProvider{"Google", "google", "g.circle.fill", {kDefaultModel}}};
}

std::optional<AIProvider> providerForModel(const std::vector<AIProvider>& providers,
                                           const std::string& model) {
    for (const auto& provider : providers) {
        for (const auto& candidate : provider.models) {
            if (candidate == model) {
                return provider;
            }
        }
    }
    return std::nullopt;
}

}  // namespace velmora
