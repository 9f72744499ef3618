// A scripted OpenAI-compatible chat-completions server on loopback for the end-to-end test. It
// answers "Rewritten: " + the user message (port 0 picks a free one, printed at start), takes its
// time when the message asks it to, answers "SIZE:n" with n bytes of text, and appends every
// request body it received to a log file, one per line.
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT LOGFILE\n", argv[0]);
        return 2;
    }
    const int port = std::stoi(argv[1]);
    const std::string logPath = argv[2];
    std::mutex logMutex;

    httplib::Server server;
    server.Post(
        "/v1/chat/completions", [&](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(logMutex);
                std::ofstream log(logPath, std::ios::app);
                log << nlohmann::json::parse(request.body, nullptr, false).dump() << "\n";
            }
            const auto body = nlohmann::json::parse(request.body, nullptr, false);
            std::string user;
            if (body.is_object() && body.contains("messages") && body["messages"].is_array()) {
                for (const auto& message : body["messages"]) {
                    if (message.value("role", "") == "user") {
                        user = message.value("content", "");
                    }
                }
            }
            if (user.find("SLOW") != std::string::npos) {
                std::this_thread::sleep_for(std::chrono::seconds(5));
            }
            std::string content = "Rewritten: " + user;
            if (user.starts_with("SIZE:")) {
                content.assign(std::stoul(user.substr(5)), 'x');
            }
            nlohmann::json answer = {
                {"choices",
                 {{{"index", 0},
                   {"message", {{"role", "assistant"}, {"content", std::move(content)}}}}}}};
            response.set_content(answer.dump(), "application/json");
        });
    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        std::fprintf(stderr, "cannot listen on %d\n", port);
        return 1;
    }
    std::printf("listening %d\n", bound);
    std::fflush(stdout);
    server.listen_after_bind();
    return 0;
}
