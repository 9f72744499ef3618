#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/linux/KeyCodeMap.h"
#include "platform/linux/X11Input.h"

namespace velmora::desktop {
namespace {

using Clock = std::chrono::steady_clock;

// How long a key-down waits for the user to let go of the shortcut's own modifiers before lifting
// them itself; most people release within this time and nothing needs to be faked.
constexpr auto releaseWait = std::chrono::milliseconds(250);
constexpr auto releasePoll = std::chrono::milliseconds(5);

using KeyCodes = std::vector<KeyCode>;

bool isDown(const std::array<char, 32>& keys, KeyCode code) {
    return (keys[code / 8] >> (code % 8)) & 1;
}

std::array<char, 32> queryKeymap(Display* display) {
    std::array<char, 32> keys{};
    XQueryKeymap(display, keys.data());
    return keys;
}

// The modifier keys of the event's flags, as X key codes of their left-hand keys. Command is
// Control on Linux and Control is Super, as for the hot key.
KeyCodes modifierKeysForFlags(Display* display, std::uint64_t flags) {
    KeyCodes keys;
    const std::pair<std::uint64_t, KeySym> table[] = {
        {platform::eventFlagMaskCommand, XK_Control_L},
        {platform::eventFlagMaskShift, XK_Shift_L},
        {platform::eventFlagMaskAlternate, XK_Alt_L},
        {platform::eventFlagMaskControl, XK_Super_L},
    };
    for (const auto& [flag, sym] : table) {
        if ((flags & flag) != 0) {
            if (const KeyCode code = XKeysymToKeycode(display, sym); code != 0) {
                keys.push_back(code);
            }
        }
    }
    return keys;
}

// Every key bound to a modifier other than the lock modifiers, with the modifier's index.
std::vector<std::pair<KeyCode, int>> modifierKeys(Display* display) {
    std::vector<std::pair<KeyCode, int>> keys;
    const unsigned int locks = lockMasks(display).all();
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) {
        return keys;
    }
    for (int modifier = 0; modifier < 8; ++modifier) {
        if ((locks & (1U << modifier)) != 0) {
            continue;
        }
        for (int i = 0; i < map->max_keypermod; ++i) {
            if (const KeyCode code = map->modifiermap[modifier * map->max_keypermod + i]) {
                keys.emplace_back(code, modifier);
            }
        }
    }
    XFreeModifiermap(map);
    return keys;
}

class XTestKeyEvents : public platform::KeyEvents {
  public:
    explicit XTestKeyEvents(std::shared_ptr<X11Connection> connection)
        : connection_(std::move(connection)) {}

    bool createSource() override { return connection_->hasXTest(); }

    std::optional<platform::KeyEvent> createKeyboardEvent(bool haveSource, std::uint16_t keyCode,
                                                          bool keyDown) override {
        if (!haveSource || xKeycodeForVirtualKeyCode(keyCode) < 0) {
            return std::nullopt;
        }
        return platform::KeyEvent{keyCode, keyDown, 0};
    }

    void post(const platform::KeyEvent& event) override {
        Display* display = connection_->display();
        const int keycode = xKeycodeForVirtualKeyCode(event.keyCode);
        if (display == nullptr || keycode < 0) {
            return;
        }
        if (event.keyDown) {
            pressWithFlags(display, static_cast<KeyCode>(keycode), event.flags);
        } else {
            releaseWithFlags(display, static_cast<KeyCode>(keycode), event.flags);
        }
        XFlush(display);
    }

    void createAndReleaseEventTap() override {}

  private:
    // The flags replace the modifiers in effect: the keys of other modifiers still held (the
    // shortcut's own Ctrl+Shift, typically) would turn Ctrl+C into Ctrl+Shift+C.
    void pressWithFlags(Display* display, KeyCode key, std::uint64_t flags) {
        const KeyCodes wanted = modifierKeysForFlags(display, flags);
        const auto modifiers = modifierKeys(display);
        std::vector<int> wantedModifiers;
        for (const auto& [code, modifier] : modifiers) {
            for (const KeyCode want : wanted) {
                if (code == want)
                    wantedModifiers.push_back(modifier);
            }
        }
        const auto unwantedHeld = [&](const std::array<char, 32>& keys) {
            KeyCodes held;
            for (const auto& [code, modifier] : modifiers) {
                const bool isWanted = std::find(wantedModifiers.begin(), wantedModifiers.end(),
                                                modifier) != wantedModifiers.end();
                if (!isWanted && isDown(keys, code))
                    held.push_back(code);
            }
            return held;
        };

        const auto deadline = Clock::now() + releaseWait;
        KeyCodes held = unwantedHeld(queryKeymap(display));
        while (!held.empty() && Clock::now() < deadline) {
            std::this_thread::sleep_for(releasePoll);
            held = unwantedHeld(queryKeymap(display));
        }
        for (const KeyCode code : held) {
            XTestFakeKeyEvent(display, code, False, CurrentTime);
        }
        lifted_ = held;

        const auto keys = queryKeymap(display);
        pressed_.clear();
        for (const KeyCode code : wanted) {
            if (!isDown(keys, code)) {
                XTestFakeKeyEvent(display, code, True, CurrentTime);
                pressed_.push_back(code);
            }
        }
        XTestFakeKeyEvent(display, key, True, CurrentTime);
    }

    void releaseWithFlags(Display* display, KeyCode key, std::uint64_t) {
        XTestFakeKeyEvent(display, key, False, CurrentTime);
        for (auto code = pressed_.rbegin(); code != pressed_.rend(); ++code) {
            XTestFakeKeyEvent(display, *code, False, CurrentTime);
        }
        // The user held these past the wait, so they are taken to be held still: the server's
        // state goes back to what the keyboard says, and their real release follows.
        for (const KeyCode code : lifted_) {
            XTestFakeKeyEvent(display, code, True, CurrentTime);
        }
        pressed_.clear();
        lifted_.clear();
    }

    std::shared_ptr<X11Connection> connection_;
    KeyCodes pressed_;
    KeyCodes lifted_;
};

}  // namespace

std::unique_ptr<platform::KeyEvents> makeXTestKeyEvents(std::shared_ptr<X11Connection> connection) {
    return std::make_unique<XTestKeyEvents>(std::move(connection));
}

}  // namespace velmora::desktop
