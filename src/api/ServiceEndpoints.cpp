#include "api/ServiceEndpoints.h"

#include <cstdlib>

namespace velmora {
namespace {

std::string environmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

}  // namespace

ServiceHosts ServiceHosts::builtIn() {
    return {"api.velmora.app", "download.velmora.app", "velmora.app"};
}

ServiceHosts ServiceHosts::fromEnvironment() {
    const ServiceHosts defaults = builtIn();
    return {environmentOr("VELMORA_API_HOST", defaults.api),
            environmentOr("VELMORA_DOWNLOAD_HOST", defaults.download),
            environmentOr("VELMORA_WEBSITE_HOST", defaults.website)};
}

ServiceEndpoints ServiceEndpoints::forHosts(const ServiceHosts& hosts) {
    const std::string api = "https://" + hosts.api;
    const std::string download = "https://" + hosts.download;
    const std::string website = "https://" + hosts.website;
    return {api + "/api/chat",
            api + "/auth/google?platform=mac",
            download + "/latest/Velmora.dmg",
            download + "/latest/version.json",
            website,
            website + "/privacy"};
}

std::string extraCertificateAuthorityFile() {
    return environmentOr("VELMORA_CA_FILE", "");
}

}  // namespace velmora
