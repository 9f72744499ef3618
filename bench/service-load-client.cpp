// The load client of bench/service-load.sh, in three modes:
//   PORT CA_FILE TOKEN CLIENTS SECONDS: N keep-alive HTTPS clients, each alternating
//     GET /latest/version.json and POST /api/chat with a bearer token for a fixed time; prints the
//     requests per second and the p50/p99 latency per path and in all.
//   burst PORT CA_FILE TOKEN CLIENTS: N clients at once, each on its own TLS connection, each
//     sending one POST /api/chat; prints the wall time until the last answer and the failures.
//   trickle PORT CA_FILE CONNECTIONS SECONDS: keeps CONNECTIONS TLS connections sending a request
//     head one byte every 2 s (a new one for each the server closes), and meanwhile one ordinary
//     GET /latest/version.json on a fresh connection every 200 ms; prints their median and
//     failures.
#include <httplib.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    int path;  // 0 version, 1 chat
    double ms;
    int status;  // 0 when the request failed
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

const std::string kChat =
    R"({"prompt":"The quick brown fox.","provider":"google",)"
    R"("model":"gemini-2.5-flash-preview-05-20","user_instructions":"Fix the grammar."})";

std::unique_ptr<httplib::SSLClient> clientOf(int port, const std::string& ca) {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
    client->set_ca_cert_path(ca.c_str());
    client->enable_server_certificate_verification(true);
    client->set_tcp_nodelay(true);
    client->set_connection_timeout(std::chrono::seconds(60));
    client->set_read_timeout(std::chrono::seconds(120));
    return client;
}

int burst(int port, const std::string& ca, const std::string& token, int clients) {
    std::vector<double> ms(static_cast<size_t>(clients));
    std::vector<int> statuses(static_cast<size_t>(clients));
    std::atomic<int> ready = 0;
    std::atomic<bool> go = false;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            auto client = clientOf(port, ca);
            ++ready;
            while (!go) {
                std::this_thread::yield();
            }
            const auto sent = Clock::now();
            auto result = client->Post("/api/chat", {{"Authorization", "Bearer " + token}}, kChat,
                                       "application/json");
            ms[c] = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
            statuses[c] = result ? result->status : 0;
        });
    }
    while (ready < clients) {
        std::this_thread::yield();
    }
    const auto start = Clock::now();
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::map<int, int> counts;
    for (int status : statuses) {
        ++counts[status];
    }
    const int failed = clients - counts[200];
    std::printf("%d clients at once: wall %.2f s, p50 %.0f ms, max %.0f ms, %d failed  statuses",
                clients, wall, percentile(ms, 0.5), percentile(ms, 1.0), failed);
    for (const auto& [status, count] : counts) {
        std::printf(" %d:%d", status, count);
    }
    std::printf("\n");
    return 0;
}

// One trickling connection: TLS, then a head that never ends.
struct Trickler {
    int socket = -1;
    SSL* ssl = nullptr;
    void open(SSL_CTX* context, int port) {
        close();
        socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // A server that never takes the handshake does not hold the bench.
        const timeval limit{5, 0};
        setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        ssl = SSL_new(context);
        if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            SSL_set_fd(ssl, socket);
            if (SSL_connect(ssl) == 1) {
                SSL_write(ssl, "GET /latest/version.json HTTP/1.1\r\n", 35);
            }
        }
    }
    bool trickle() { return ssl && SSL_write(ssl, "X", 1) == 1; }
    void close() {
        if (ssl) {
            SSL_free(ssl);
        }
        if (socket >= 0) {
            ::close(socket);
        }
        ssl = nullptr;
        socket = -1;
    }
};

int trickle(int port, const std::string& ca, int connections, double seconds) {
    signal(SIGPIPE, SIG_IGN);
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    std::atomic<bool> done = false;
    std::atomic<long> reopened = 0;
    std::vector<std::thread> threads;
    const int groups = 4;
    for (int g = 0; g < groups; ++g) {
        threads.emplace_back([&, g] {
            std::vector<Trickler> mine(
                static_cast<size_t>(connections / groups + (g < connections % groups)));
            for (auto& t : mine) {
                if (!done) {
                    t.open(context, port);
                }
            }
            while (!done) {
                for (auto& t : mine) {
                    if (!t.trickle()) {
                        ++reopened;
                        t.open(context, port);
                    }
                }
                for (int i = 0; i < 20 && !done; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            }
            for (auto& t : mine) {
                t.close();
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // all of them trickling
    std::vector<double> ms;
    int failed = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        auto client = clientOf(port, ca);
        client->set_connection_timeout(std::chrono::seconds(10));
        client->set_read_timeout(std::chrono::seconds(10));
        const auto sent = Clock::now();
        auto result = client->Get("/latest/version.json");
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        failed += !result || result->status != 200;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    done = true;
    for (auto& thread : threads) {
        thread.join();
    }
    std::printf(
        "%d connections trickling heads: %zu ordinary requests, median %.1f ms, p99 %.1f "
        "ms, max %.1f ms, %d failed; %ld trickling connections cut off and reopened\n",
        connections, ms.size(), percentile(ms, 0.5), percentile(ms, 0.99), percentile(ms, 1.0),
        failed, reopened.load());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "burst" && argc == 6) {
        return burst(std::stoi(argv[2]), argv[3], argv[4], std::stoi(argv[5]));
    }
    if (mode == "trickle" && argc == 6) {
        return trickle(std::stoi(argv[2]), argv[3], std::stoi(argv[4]), std::stod(argv[5]));
    }
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PORT CA_FILE TOKEN CLIENTS SECONDS\n", argv[0]);
        return 2;
    }
    const int port = std::stoi(argv[1]);
    const std::string ca = argv[2];
    const std::string token = argv[3];
    const int clients = std::stoi(argv[4]);
    const double seconds = std::stod(argv[5]);
    const std::string& chat = kChat;

    std::mutex mutex;
    std::vector<Sample> samples;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::SSLClient client("127.0.0.1", port);
            client.set_ca_cert_path(ca.c_str());
            client.enable_server_certificate_verification(true);
            client.set_keep_alive(true);
            // As curl does, so the client's own small writes wait for no acknowledgement.
            client.set_tcp_nodelay(true);
            client.set_connection_timeout(std::chrono::seconds(30));
            client.set_read_timeout(std::chrono::seconds(30));
            const httplib::Headers auth = {{"Authorization", "Bearer " + token}};
            std::vector<Sample> mine;
            for (int i = c; Clock::now() < deadline; ++i) {
                const int path = i % 2;
                const auto sent = Clock::now();
                auto result = path == 0 ? client.Get("/latest/version.json")
                                        : client.Post("/api/chat", auth, chat, "application/json");
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
                mine.push_back({path, ms, result ? result->status : 0});
            }
            std::lock_guard lock(mutex);
            samples.insert(samples.end(), mine.begin(), mine.end());
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    std::map<int, std::vector<double>> byPath;
    std::map<std::pair<int, int>, long> statuses;
    std::vector<double> all;
    for (const auto& sample : samples) {
        byPath[sample.path].push_back(sample.ms);
        all.push_back(sample.ms);
        ++statuses[{sample.path, sample.status}];
    }
    const char* names[] = {"GET /latest/version.json", "POST /api/chat"};
    std::printf("%d clients, %.1f s: %zu requests, %.0f requests/s\n", clients, elapsed,
                samples.size(), static_cast<double>(samples.size()) / elapsed);
    for (auto& [path, values] : byPath) {
        std::printf("  %-26s %7zu requests  p50 %7.1f ms  p99 %7.1f ms  statuses", names[path],
                    values.size(), percentile(values, 0.5), percentile(values, 0.99));
        for (const auto& [key, count] : statuses) {
            if (key.first == path) {
                std::printf(" %d:%ld", key.second, count);
            }
        }
        std::printf("\n");
    }
    std::printf("  %-26s %7zu requests  p50 %7.1f ms  p99 %7.1f ms\n", "all", all.size(),
                percentile(all, 0.5), percentile(all, 0.99));
    return 0;
}
