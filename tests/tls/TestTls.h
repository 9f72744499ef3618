#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testtls {

// A certificate authority and a server certificate for 127.0.0.1, made on first use and removed
// when the process ends.
struct Certificates {
    std::string authority;
    std::string certificate;
    std::string key;
};
const Certificates& certificates();

// Serves `server` on a free port of 127.0.0.1 from its own thread until destroyed.
class ServingThread {
  public:
    explicit ServingThread(httplib::Server& server);
    ~ServingThread();
    int port() const { return port_; }

  private:
    httplib::Server& server_;
    int port_;
    std::thread thread_;
};

// A port of 127.0.0.1 on which nothing answers: connections are refused, or with `listening`
// they are accepted by the kernel and then left silent.
class SilentPort {
  public:
    explicit SilentPort(bool listening);
    ~SilentPort();
    int port() const { return port_; }

  private:
    int socket_;
    int port_ = 0;
};

// Values recorded on a server's or a session's threads, read by the test as they arrive.
template <typename T>
class Recorder {
  public:
    void add(T value) {
        {
            std::lock_guard lock(mutex_);
            values_.push_back(std::move(value));
        }
        changed_.notify_all();
    }
    // The values once `done` holds for them, or after a minute.
    template <typename Predicate>
    std::vector<T> waitUntil(Predicate done) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::minutes(1), [&] { return done(values_); });
        return values_;
    }
    std::vector<T> waitFor(std::size_t count) {
        return waitUntil([count](const std::vector<T>& values) { return values.size() >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> values_;
};

}  // namespace velmora::testtls
