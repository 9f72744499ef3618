#include "ServiceConfig.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace velmora::service {
namespace {

void setError(std::string* error, std::string text) {
    if (error) {
        *error = std::move(text);
    }
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

// A secret kept in a file: its first line, so an editor's trailing newline does not count.
std::optional<std::string> readSecretFile(const std::string& path) {
    auto text = readFile(path);
    if (!text) {
        return std::nullopt;
    }
    return trimmed(text->substr(0, text->find('\n')));
}

// Seconds, or a number with the unit s, m, h or d; from 0 to `most` seconds.
std::optional<double> parseDuration(const std::string& value, double most) {
    char* end = nullptr;
    double seconds = std::strtod(value.c_str(), &end);
    const std::string unit = trimmed(end);
    const auto scale = unit.empty() || unit == "s" ? 1.0
                       : unit == "m"               ? 60.0
                       : unit == "h"               ? 3600.0
                       : unit == "d"               ? 86400.0
                                                   : 0.0;
    seconds *= scale;
    if (value.empty() || end == value.c_str() || scale == 0 || !(seconds >= 0) || seconds > most) {
        return std::nullopt;
    }
    return seconds;
}

bool applyCount(int& field, const std::string& key, const std::string& value, long least, long most,
                std::string* error) {
    char* end = nullptr;
    const long count = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || count < least || count > most) {
        setError(error, key + " must be a number from " + std::to_string(least) + " to " +
                            std::to_string(most) + ", got \"" + value + "\"");
        return false;
    }
    field = static_cast<int>(count);
    return true;
}

bool applyModelMap(ServiceConfig& config, const std::string& value, std::string* error) {
    const auto equals = value.find('=');
    const std::string model = trimmed(value.substr(0, equals));
    const std::string upstream =
        equals == std::string::npos ? std::string() : trimmed(value.substr(equals + 1));
    if (model.empty() || upstream.empty()) {
        setError(error, "model-map takes CATALOG_MODEL=UPSTREAM_MODEL, got \"" + value + "\"");
        return false;
    }
    config.modelMap[model] = upstream;
    return true;
}

// Keys whose value is a secret read from a file.
bool applySecretFile(std::string& field, const std::string& key, const std::string& path,
                     std::string* error) {
    auto secret = readSecretFile(path);
    if (!secret) {
        setError(error, key + ": cannot read " + path);
        return false;
    }
    field = *secret;
    return true;
}

// The field a duration key sets, or none.
double* durationField(ServiceConfig& config, const std::string& key) {
    const std::pair<const char*, double*> durations[] = {
        {"upstream-timeout", &config.upstreamTimeout},
        {"auth-delay", &config.authDelay},
        {"auth-lockout", &config.authLockout},
        {"token-idle-lifetime", &config.tokenIdleLifetime},
        {"token-lifetime", &config.tokenLifetime}};
    for (const auto& [name, field] : durations) {
        if (key == name) {
            return field;
        }
    }
    return nullptr;
}

}  // namespace

bool applySetting(ServiceConfig& config, const std::string& key, const std::string& value,
                  std::string* error) {
    if (key == "listen") {
        config.listen = value;
    } else if (key == "port") {
        return applyCount(config.port, key, value, 0, 65535, error);
    } else if (key == "threads") {
        return applyCount(config.threads, key, value, 0, 256, error);
    } else if (key == "max-connections") {
        return applyCount(config.maxConnections, key, value, 1, 1000000, error);
    } else if (key == "max-connections-per-address") {
        return applyCount(config.maxConnectionsPerAddress, key, value, 1, 1000000, error);
    } else if (key == "database") {
        if (!value.empty() && value.rfind("postgresql://", 0) != 0 &&
            value.rfind("postgres://", 0) != 0 && value.find('=') == std::string::npos) {
            setError(error,
                     "database must be a postgresql:// URL or a key=value connection string");
            return false;
        }
        config.database = value;
    } else if (key == "trusted-proxies") {
        std::istringstream entries(value);
        for (std::string entry; entries >> entry;) {
            while (!entry.empty() && entry.back() == ',') {
                entry.pop_back();
            }
            if (entry.empty()) {
                continue;
            }
            if (!parseNetwork(entry)) {
                setError(error, "trusted-proxies takes addresses or networks (10.0.0.0/8), got \"" +
                                    entry + "\"");
                return false;
            }
            config.trustedProxies.push_back(entry);
        }
    } else if (key == "auth-lockout-failures") {
        return applyCount(config.authLockoutFailures, key, value, 0, 1000000, error);
    } else if (key == "cert") {
        config.certFile = value;
    } else if (key == "key") {
        config.keyFile = value;
    } else if (key == "data-dir") {
        config.dataDir = value;
    } else if (key == "passphrase") {
        config.passphrase = value;
    } else if (key == "passphrase-file") {
        return applySecretFile(config.passphrase, key, value, error);
    } else if (key == "upstream-url") {
        if (!value.empty() && value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0) {
            setError(error, "upstream-url must start with http:// or https://");
            return false;
        }
        config.upstreamUrl = value;
    } else if (key == "upstream-api-key") {
        config.upstreamApiKey = value;
    } else if (key == "upstream-api-key-file") {
        return applySecretFile(config.upstreamApiKey, key, value, error);
    } else if (key == "upstream-ca-file") {
        config.upstreamCaFile = value;
    } else if (key == "model-map") {
        return applyModelMap(config, value, error);
    } else if (double* duration = durationField(config, key)) {
        // Lifetimes run to ten years, waits to a day; all but the delay must be positive.
        const bool lifetime = key.rfind("token-", 0) == 0;
        auto seconds = parseDuration(value, (lifetime ? 3650 : 1) * 86400.0);
        if (!seconds || (*seconds <= 0 && key != "auth-delay")) {
            setError(error, key + " must be " + (key == "auth-delay" ? "a" : "a positive") +
                                " time in seconds or with a unit s, m, h, d (at most " +
                                (lifetime ? "3650d" : "1d") + "), got \"" + value + "\"");
            return false;
        }
        *duration = *seconds;
    } else if (key == "version") {
        config.version = value;
    } else if (key == "installer-file") {
        config.installerFile = value;
    } else {
        setError(error, "unknown setting \"" + key + "\"");
        return false;
    }
    return true;
}

bool applyConfigText(ServiceConfig& config, const std::string& text, std::string* error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        line = trimmed(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            setError(error, "line " + std::to_string(number) + ": expected key = value");
            return false;
        }
        std::string detail;
        if (!applySetting(config, trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)),
                          &detail)) {
            setError(error, "line " + std::to_string(number) + ": " + detail);
            return false;
        }
    }
    return true;
}

std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args,
                                            std::string* error) {
    std::vector<std::pair<std::string, std::string>> settings;
    std::optional<std::string> configFile;
    CommandLine result;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.showHelp = true;
            return result;
        }
        if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
            setError(error, "unexpected argument \"" + arg + "\" (see --help)");
            return std::nullopt;
        }
        std::string key = arg.substr(2);
        std::string value;
        if (const auto equals = key.find('='); equals != std::string::npos) {
            value = key.substr(equals + 1);
            key.resize(equals);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            setError(error, "--" + key + " needs a value (see --help)");
            return std::nullopt;
        }
        if (key == "config") {
            configFile = value;
        } else {
            settings.emplace_back(key, value);
        }
    }
    if (configFile) {
        auto text = readFile(*configFile);
        if (!text) {
            setError(error, "cannot read the config file " + *configFile);
            return std::nullopt;
        }
        std::string detail;
        if (!applyConfigText(result.config, *text, &detail)) {
            setError(error, *configFile + ": " + detail);
            return std::nullopt;
        }
    }
    for (const auto& [key, value] : settings) {
        std::string detail;
        if (!applySetting(result.config, key, value, &detail)) {
            setError(error, "--" + detail);
            return std::nullopt;
        }
    }
    return result;
}

std::string resolvedDataDir(const ServiceConfig& config) {
    if (!config.dataDir.empty()) {
        return config.dataDir;
    }
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        return std::string(xdg) + "/velmora-service";
    }
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.local/share/velmora-service";
}

int serviceThreads(const ServiceConfig& config) {
    return config.threads > 0 ? config.threads
                              : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

std::optional<IpNetwork> parseNetwork(const std::string& text) {
    const auto slash = text.find('/');
    const std::string address = text.substr(0, slash);
    IpNetwork network;
    in_addr v4{};
    int most = 128;
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        network.bytes[10] = network.bytes[11] = 0xff;
        std::memcpy(network.bytes.data() + 12, &v4, 4);
        most = 32;
    } else if (inet_pton(AF_INET6, address.c_str(), network.bytes.data()) != 1) {
        return std::nullopt;
    }
    int bits = most;
    if (slash != std::string::npos) {
        char* end = nullptr;
        const std::string rest = text.substr(slash + 1);
        bits = static_cast<int>(std::strtol(rest.c_str(), &end, 10));
        if (rest.empty() || *end != '\0' || bits < 0 || bits > most) {
            return std::nullopt;
        }
    }
    network.bits = bits + (128 - most);
    return network;
}

bool networkContains(const IpNetwork& network, const std::string& address) {
    const auto host = parseNetwork(address);
    if (!host || host->bits != 128) {
        return false;
    }
    for (int bit = 0; bit < network.bits; ++bit) {
        const unsigned char mask = static_cast<unsigned char>(0x80 >> (bit % 8));
        if ((host->bytes[bit / 8] & mask) != (network.bytes[bit / 8] & mask)) {
            return false;
        }
    }
    return true;
}

std::string usageText() {
    return R"(Usage: velmora-service [--config FILE] [--KEY VALUE]...

The reference web service for Velmora: the chat endpoint, the sign-in page, the
version document and the installer download, over HTTPS.

Every KEY may also be given in the config file as a "KEY = VALUE" line; flags on
the command line win over the file.

  --config FILE               read settings from FILE first
  --listen ADDRESS            address to listen on (default 127.0.0.1)
  --port N                    port (default 8443; 0 picks a free one)
  --cert FILE                 server certificate, PEM (required)
  --key FILE                  server private key, PEM (required)
  --data-dir DIR              SQLite token database directory
                              (default $XDG_DATA_HOME/velmora-service)
  --passphrase TEXT           passphrase the sign-in page asks for
  --passphrase-file FILE      ... read from the first line of FILE
  --upstream-url URL          OpenAI-compatible API base, e.g. a local Ollama at
                              http://127.0.0.1:11434/v1 (without it /api/chat
                              answers 503)
  --upstream-api-key KEY      sent as "Authorization: Bearer KEY" upstream
  --upstream-api-key-file FILE  ... read from the first line of FILE
  --upstream-ca-file FILE     extra CA bundle for an https upstream
  --model-map MODEL=UPSTREAM  catalog model -> upstream model name; repeatable
                              (default gemini-2.5-flash-preview-05-20 maps to
                              itself)
  --upstream-timeout TIME     upstream answer deadline, then 504 (default 55)
  --version VERSION           served in /latest/version.json (default )" VELMORA_SERVICE_DEFAULT_VERSION
           R"()
  --installer-file FILE       served as /latest/Velmora.dmg (404 without it)
  --auth-delay TIME           after a wrong passphrase its address must wait this
                              long before it may try again, twice as long after
                              each further one (default 2)
  --auth-lockout-failures N   wrong passphrases in a row that lock the address
                              out (default 10; 0 never)
  --auth-lockout TIME         how long a lockout lasts (default 15m)
  --token-idle-lifetime TIME  a session token unused this long is refused
                              (default 30d)
  --token-lifetime TIME       a session token this old is refused (default 180d)
  --threads N                 threads serving all connections (default: one
                              per core)
  --database URL              PostgreSQL shared by replicas: postgresql://... or
                              "host=... dbname=..." (default: SQLite in the
                              data directory)
  --trusted-proxies LIST      proxies whose PROXY protocol v2 header or
                              X-Forwarded-For names the client, e.g.
                              "10.0.0.5, 10.0.1.0/24" (default none)
  --max-connections N         open connections at most (default 2048)
  --max-connections-per-address N  ... from one client address (default 256)
  --help                      this text

TIME is seconds, or a number with the unit s, m, h or d (e.g. 30d).
)";
}

}  // namespace velmora::service
