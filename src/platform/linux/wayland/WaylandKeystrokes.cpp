#include "platform/linux/wayland/WaylandKeystrokes.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/Keys.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace velmora::desktop {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kKeyDownTime = 10ms;
// Keys sent sooner after the keyboard appears are lost: the compositor is still setting it up.
constexpr auto kSettleTime = 50ms;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* object) const { Free(object); }
};
using Context = std::unique_ptr<xkb_context, Deleter<xkb_context, xkb_context_unref>>;
using Keymap = std::unique_ptr<xkb_keymap, Deleter<xkb_keymap, xkb_keymap_unref>>;

std::uint32_t milliseconds() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

// A keyboard of the seat whose keys Velmora sends. The focused application reads them with this
// keyboard's own keymap, so Ctrl+C is Ctrl+C whatever layout the user types with.
class WaylandKeystrokes final : public platform::Keystrokes {
  public:
    WaylandKeystrokes(std::shared_ptr<WaylandConnection> connection,
                      zwp_virtual_keyboard_manager_v1* manager)
        : connection_(std::move(connection)),
          manager_(manager),
          keyboard_(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager,
                                                                            connection_->seat())) {
        ready_ = uploadKeymap() && connection_->roundtrip();
        readyAt_ = Clock::now() + kSettleTime;
    }

    ~WaylandKeystrokes() override {
        zwp_virtual_keyboard_v1_destroy(keyboard_);
        zwp_virtual_keyboard_manager_v1_destroy(manager_);
        connection_->flush();
    }

    bool ready() const { return ready_; }

    platform::Capability permission(bool) override {
        if (ready_ && connection_->alive()) {
            return platform::Capability::yes();
        }
        return platform::Capability::no(
            "The Wayland compositor did not let Velmora type. Restart Velmora to try again.");
    }

    platform::KeystrokeResult send(platform::Keystroke keystroke) override {
        if (const auto allowed = permission(false); !allowed.available) {
            return platform::KeystrokeResult::failed(allowed.explanation);
        }
        std::this_thread::sleep_until(readyAt_);
        const std::uint32_t key =
            (keystroke == platform::Keystroke::Copy ? platform::keys::C : platform::keys::V)
                .position;
        const std::uint32_t control = platform::keys::LeftControl.position;
        // This keyboard's modifiers are only what it reports: the user's own keyboard, maybe
        // still holding the shortcut's keys, does not add to them.
        press(control, true);
        zwp_virtual_keyboard_v1_modifiers(keyboard_, controlMask_, 0, 0, 0);
        press(key, true);
        connection_->flush();
        std::this_thread::sleep_for(kKeyDownTime);
        press(key, false);
        press(control, false);
        zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
        // Back once the compositor has passed the key-up on.
        if (!connection_->roundtrip()) {
            return platform::KeystrokeResult::failed(
                "The connection to the Wayland compositor was lost.");
        }
        return platform::KeystrokeResult::sent();
    }

  private:
    void press(std::uint32_t key, bool down) {
        zwp_virtual_keyboard_v1_key(
            keyboard_, milliseconds(), key,
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    }

    // The default rules with the US layout and no options: the codes sent are C and V, and
    // Left Ctrl is Control, whatever XKB_DEFAULT_* the environment sets.
    bool uploadKeymap() {
        const Context context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        if (!context) {
            return false;
        }
        const xkb_rule_names names = {nullptr, nullptr, "us", "", ""};
        const Keymap keymap(
            xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!keymap) {
            return false;
        }
        controlMask_ = 1U << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL);
        const std::unique_ptr<char, decltype(&std::free)> text(
            xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
        if (!text) {
            return false;
        }
        // The compositor maps the keymap, terminating zero included.
        const std::size_t size = std::strlen(text.get()) + 1;
        const int fd = memfd_create("velmora-keymap", MFD_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        std::size_t written = 0;
        while (written < size) {
            const ssize_t count = write(fd, text.get() + written, size - written);
            if (count <= 0) {
                close(fd);
                return false;
            }
            written += static_cast<std::size_t>(count);
        }
        zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
        close(fd);
        return true;
    }

    std::shared_ptr<WaylandConnection> connection_;
    zwp_virtual_keyboard_manager_v1* manager_;
    zwp_virtual_keyboard_v1* keyboard_;
    std::uint32_t controlMask_ = 0;
    bool ready_ = false;
    Clock::time_point readyAt_;
};

}  // namespace

std::unique_ptr<platform::Keystrokes> makeVirtualKeyboardKeystrokes(
    std::shared_ptr<WaylandConnection> connection) {
    if (!connection || connection->seat() == nullptr) {
        return nullptr;
    }
    auto* manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        connection->bind(zwp_virtual_keyboard_manager_v1_interface, 1));
    if (manager == nullptr) {
        return nullptr;
    }
    auto keystrokes = std::make_unique<WaylandKeystrokes>(std::move(connection), manager);
    if (!keystrokes->ready()) {
        return nullptr;
    }
    return keystrokes;
}

}  // namespace velmora::desktop
