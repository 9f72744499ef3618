#include "platform/linux/wayland/WaylandConnection.h"

#include <poll.h>
#include <wayland-client.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdlib>

namespace velmora::desktop {

std::shared_ptr<WaylandConnection> WaylandConnection::open() {
    // Without WAYLAND_DISPLAY libwayland would try "wayland-0", which in an X11 session may be a
    // compositor the user's windows are not on.
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    std::shared_ptr<WaylandConnection> connection(new WaylandConnection);
    connection->display_ = wl_display_connect(nullptr);
    if (connection->display_ == nullptr) {
        return nullptr;
    }
    static const wl_registry_listener listener = {
        .global =
            [](void* data, wl_registry*, std::uint32_t name, const char* interface,
               std::uint32_t version) {
                static_cast<WaylandConnection*>(data)->globals_.push_back(
                    {name, interface, version});
            },
        .global_remove =
            [](void* data, wl_registry*, std::uint32_t name) {
                std::erase_if(static_cast<WaylandConnection*>(data)->globals_,
                              [name](const Global& global) { return global.name == name; });
            },
    };
    connection->registry_ = wl_display_get_registry(connection->display_);
    wl_registry_add_listener(connection->registry_, &listener, connection.get());
    if (wl_display_roundtrip(connection->display_) < 0) {
        return nullptr;
    }
    connection->seat_ = static_cast<wl_seat*>(connection->bind(wl_seat_interface, 1));

    connection->notifier_ = std::make_unique<QSocketNotifier>(
        wl_display_get_fd(connection->display_), QSocketNotifier::Read);
    WaylandConnection* raw = connection.get();
    QObject::connect(connection->notifier_.get(), &QSocketNotifier::activated,
                     connection->notifier_.get(), [raw] { raw->dispatchAvailable(); });
    return connection;
}

WaylandConnection::~WaylandConnection() {
    notifier_.reset();
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    if (display_ != nullptr) {
        wl_display_disconnect(display_);
    }
}

void* WaylandConnection::bind(const wl_interface& interface, std::uint32_t version) {
    const auto global = std::find_if(globals_.begin(), globals_.end(), [&](const Global& g) {
        return g.interface == interface.name;
    });
    if (global == globals_.end() || !alive()) {
        return nullptr;
    }
    return wl_registry_bind(registry_, global->name, &interface,
                            std::min(version, global->version));
}

bool WaylandConnection::roundtrip() {
    return alive() && wl_display_roundtrip(display_) >= 0;
}

void WaylandConnection::flush() {
    if (alive()) {
        wl_display_flush(display_);
    }
}

bool WaylandConnection::alive() const {
    return wl_display_get_error(display_) == 0;
}

void WaylandConnection::dispatchAvailable() {
    if (!alive()) {
        // A failed connection reads as forever readable; stop listening to it.
        notifier_->setEnabled(false);
        return;
    }
    while (wl_display_prepare_read(display_) != 0) {
        wl_display_dispatch_pending(display_);
    }
    pollfd readable = {wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&readable, 1, 0) > 0) {
        wl_display_read_events(display_);
    } else {
        wl_display_cancel_read(display_);
    }
    wl_display_dispatch_pending(display_);
    // Handlers may have made requests (a source answering, a new selection).
    flush();
    if (!alive()) {
        notifier_->setEnabled(false);
    }
}

}  // namespace velmora::desktop
