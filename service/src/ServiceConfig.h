#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmora::service {

// The model the desktop client asks for unless the user picked another.
inline constexpr const char* kDefaultModel = "gemini-2.5-flash-preview-05-20";
inline constexpr const char* kCatalogProvider = "google";

// Everything the service is told at start. Durations are seconds.
struct ServiceConfig {
    std::string listen = "127.0.0.1";
    int port = 8443;
    std::string certFile;
    std::string keyFile;
    std::string dataDir;  // empty: $XDG_DATA_HOME/velmora-service
    std::string passphrase;
    std::string upstreamUrl;  // empty: no model backend
    std::string upstreamApiKey;
    std::string upstreamCaFile;
    // Catalog model name -> the name the upstream knows it by. The catalog is its keys, all
    // under the provider "google".
    std::map<std::string, std::string> modelMap = {{kDefaultModel, kDefaultModel}};
    double upstreamTimeout = 55.0;
    std::string version = VELMORA_SERVICE_DEFAULT_VERSION;
    std::string installerFile;
    // After a wrong passphrase its client address must wait `authDelay` before its next attempt
    // is even considered, twice as long after each further one; `authLockoutFailures` in a row
    // (0: never) lock the address out for `authLockout`.
    double authDelay = 2.0;
    int authLockoutFailures = 10;
    double authLockout = 15 * 60.0;
    // A session token is refused once unused for `tokenIdleLifetime` or older than
    // `tokenLifetime`.
    double tokenIdleLifetime = 30 * 86400.0;
    double tokenLifetime = 180 * 86400.0;
    // Threads serving connections, all of them at once; 0: one per core.
    int threads = 0;
    // Empty: the SQLite file in the data directory. Otherwise PostgreSQL, as a postgresql:// URL
    // or a key=value connection string.
    std::string database;
    // Peers whose PROXY protocol v2 header or X-Forwarded-For names the client (addresses or
    // networks, e.g. 10.0.0.0/8); anyone else's address is the peer's own.
    std::vector<std::string> trustedProxies;
    int maxConnections = 2048;
    int maxConnectionsPerAddress = 256;
};

// An IPv4 or IPv6 network; IPv4 is held as IPv4-mapped IPv6.
struct IpNetwork {
    std::array<unsigned char, 16> bytes{};
    int bits = 128;
};

// "ADDRESS" or "ADDRESS/BITS"; none when it is neither.
std::optional<IpNetwork> parseNetwork(const std::string& text);
// Whether the address (text form) lies in `network`.
bool networkContains(const IpNetwork& network, const std::string& address);

// What the command line asked for.
struct CommandLine {
    ServiceConfig config;
    bool showHelp = false;
};

// Parses flags (`--key value` or `--key=value`); `--config FILE` reads `key = value` lines
// first, and flags given on the command line win over the file. On failure returns none and
// describes the problem in `error`.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args,
                                            std::string* error);

// Applies one `key = value` setting; the keys are the flag names without the dashes.
bool applySetting(ServiceConfig& config, const std::string& key, const std::string& value,
                  std::string* error);

// Reads `key = value` lines; blank lines and lines starting with '#' are skipped.
bool applyConfigText(ServiceConfig& config, const std::string& text, std::string* error);

// The data directory: the configured one, else $XDG_DATA_HOME/velmora-service, else
// ~/.local/share/velmora-service.
std::string resolvedDataDir(const ServiceConfig& config);

// `threads`, with 0 made the number of cores.
int serviceThreads(const ServiceConfig& config);

std::string usageText();

}  // namespace velmora::service
