#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct wl_display;
struct wl_interface;
struct wl_registry;
struct wl_seat;
class QSocketNotifier;

namespace velmora::desktop {

// Velmora's own connection to the Wayland compositor, apart from the toolkit's. It has no surface,
// and a protocol error on it (a compositor refusing a request) closes it without touching Qt's
// windows. Its events are dispatched from the Qt event loop of the thread that opened it, which
// needs a QCoreApplication.
class WaylandConnection {
  public:
    // The compositor named by WAYLAND_DISPLAY, with the globals it offers known; nullptr outside a
    // Wayland session or when the compositor does not answer.
    static std::shared_ptr<WaylandConnection> open();
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    // The first seat, or nullptr when the compositor has none.
    wl_seat* seat() const { return seat_; }
    // Binds the global of `interface` at the lower of its version and `version`; nullptr when the
    // compositor does not offer it.
    void* bind(const wl_interface& interface, std::uint32_t version);
    // Sends what is queued, waits until the compositor has handled it and dispatches its answers.
    // False once the connection has failed.
    bool roundtrip();
    // Sends what is queued without waiting.
    void flush();
    // False after a protocol or connection error: the compositor has dropped the connection.
    bool alive() const;

  private:
    struct Global {
        std::uint32_t name;
        std::string interface;
        std::uint32_t version;
    };

    WaylandConnection() = default;
    // Reads and dispatches whatever the compositor has sent, without blocking.
    void dispatchAvailable();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::vector<Global> globals_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velmora::desktop
