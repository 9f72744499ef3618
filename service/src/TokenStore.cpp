#include "TokenStore.h"

#include <cmath>

#include "PostgresTokenStore.h"
#include "ServiceConfig.h"
#include "TokenDatabase.h"

namespace velmora::service {

std::unique_ptr<TokenStore> openTokenStore(const ServiceConfig& config, std::string* error) {
    const auto seconds = [](double value) {
        return std::max<std::int64_t>(1, std::llround(value));
    };
    const TokenLifetimes lifetimes{seconds(config.tokenIdleLifetime),
                                   seconds(config.tokenLifetime)};
    if (!config.database.empty()) {
        return PostgresTokenStore::open(config.database, lifetimes, error);
    }
    return TokenDatabase::open(resolvedDataDir(config), error, lifetimes);
}

}  // namespace velmora::service
