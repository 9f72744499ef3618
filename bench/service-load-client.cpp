// The load client of bench/service-load.sh: N keep-alive HTTPS clients, each alternating
// GET /latest/version.json and POST /api/chat with a bearer token for a fixed time. Prints the
// requests per second and the p50/p99 latency per path and in all.
// Usage: service-load-client PORT CA_FILE TOKEN CLIENTS SECONDS
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PORT CA_FILE TOKEN CLIENTS SECONDS\n", argv[0]);
        return 2;
    }
    const int port = std::stoi(argv[1]);
    const std::string ca = argv[2];
    const std::string token = argv[3];
    const int clients = std::stoi(argv[4]);
    const double seconds = std::stod(argv[5]);
    const std::string chat =
        R"({"prompt":"The quick brown fox.","provider":"google",)"
        R"("model":"gemini-2.5-flash-preview-05-20","user_instructions":"Fix the grammar."})";

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
