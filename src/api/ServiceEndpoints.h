#pragma once

#include <cstddef>
#include <string>

namespace velmora {

// The product service's three hosts ("host" or "host:port"). Each has a built-in default and is
// overridden by VELMORA_API_HOST, VELMORA_DOWNLOAD_HOST and VELMORA_WEBSITE_HOST.
struct ServiceHosts {
    std::string api;
    std::string download;
    std::string website;

    static ServiceHosts builtIn();
    static ServiceHosts fromEnvironment();
};

// Every URL is https:// + host + a fixed path.
struct ServiceEndpoints {
    std::string chat;             // API host, "/api/chat"
    std::string signInPage;       // API host, "/auth/google?platform=mac"
    std::string installer;        // download host, "/latest/Velmora.dmg"
    std::string versionDocument;  // download host, "/latest/version.json"
    std::string website;          // website host, home page
    std::string privacyPage;      // website host, "/privacy"

    static ServiceEndpoints forHosts(const ServiceHosts& hosts);
};

// The service answers with at most 8 MiB; anything larger comes from a broken or hostile server and
// is refused.
inline constexpr std::size_t kMaxServiceAnswerBytes = 8u * 1024u * 1024u;

// VELMORA_CA_FILE: a PEM file of extra trust anchors for HTTPS, or empty.
std::string extraCertificateAuthorityFile();

}  // namespace velmora
