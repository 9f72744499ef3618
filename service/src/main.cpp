// velmora-service: the reference web service for Velmora.
#include <malloc.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "ServiceConfig.h"
#include "VelmoraService.h"

using namespace velmora::service;

namespace {

// Waits for SIGINT or SIGTERM on its own thread, then stops the server gracefully: no new
// connections, the requests in flight finished, then exit.
std::thread stopOnSignal(VelmoraService& service, const sigset_t& signals,
                         const std::atomic<bool>& finished) {
    return std::thread([&service, &finished, signals] {
        int received = 0;
        sigwait(&signals, &received);
        if (!finished) {
            service.stop();
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto commandLine = parseCommandLine({argv + 1, argv + argc}, &error);
    if (!commandLine) {
        std::fprintf(stderr, "velmora-service: %s\n", error.c_str());
        return 2;
    }
    if (commandLine->showHelp) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }

    // Request bodies of up to 8 MiB are mapped and unmapped rather than kept in a thread's heap,
    // which glibc would otherwise start doing after the first one is freed.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);

    // Every thread started from here on inherits the blocked signals; only the waiter sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    auto service = VelmoraService::create(commandLine->config, &error);
    if (!service) {
        std::fprintf(stderr, "velmora-service: %s\n", error.c_str());
        return 1;
    }
    const ServiceConfig& config = service->config();
    const int port = service->bind(&error);
    if (port < 0) {
        std::fprintf(stderr, "velmora-service: %s\n", error.c_str());
        return 1;
    }
    if (config.upstreamUrl.empty()) {
        logServiceLine(
            "No model backend configured: /api/chat answers 503 until upstream-url is set (in the "
            "config file, --upstream-url, or VELMORA_UPSTREAM_URL for scripts/run.sh)");
    }
    if (config.passphrase.empty()) {
        logServiceLine("No passphrase configured (--passphrase): sign-in is unavailable");
    }
    logServiceLine("Token database: " + service->storeDescription());
    logServiceLine("Serving on " + std::to_string(serviceThreads(config)) + " threads");
    const bool ipv6 = config.listen.find(':') != std::string::npos;
    logServiceLine("velmora-service listening on https://" +
                   (ipv6 ? "[" + config.listen + "]" : config.listen) + ":" + std::to_string(port));

    std::atomic<bool> finished = false;
    std::thread waiter = stopOnSignal(*service, signals, finished);
    const bool served = service->run();
    finished = true;
    if (!served) {
        // The waiter blocks until a signal; send it one so it can be joined.
        pthread_kill(waiter.native_handle(), SIGTERM);
    }
    waiter.join();
    service.reset();
    return served ? 0 : 1;
}
