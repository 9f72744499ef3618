#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings/AIProvider.h"

namespace velmora {

inline constexpr const char* kDefaultModel = "gemini-2.5-flash-preview-05-20";

// The providers the service can route to, in catalog order; compiled in.
std::vector<AIProvider> builtInProviders();

// The first provider, in catalog order, whose models list `model` exactly.
std::optional<AIProvider> providerForModel(const std::vector<AIProvider>& providers,
                                           const std::string& model);

}  // namespace velmora
