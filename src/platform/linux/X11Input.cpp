// Placeholder until the X11 input services land: nothing is registered or posted.
#include "platform/linux/LinuxServices.h"

namespace velmora::desktop {
namespace {

class NoHotKeys : public platform::HotKeys {
  public:
    platform::HotKeyStatus installEventHandler(Handler, void*,
                                               platform::PlatformHandle& h) override {
        h = 1;
        return platform::noErr;
    }
    platform::HotKeyStatus registerHotKey(std::uint32_t, std::uint32_t, platform::HotKeyID,
                                          platform::PlatformHandle&) override {
        return -1;
    }
    platform::HotKeyStatus unregisterHotKey(platform::PlatformHandle) override { return 0; }
    platform::HotKeyStatus removeEventHandler(platform::PlatformHandle) override { return 0; }
};

class NoLayout : public platform::KeyboardLayout {
  public:
    std::optional<std::string> unshiftedCharacters(std::uint16_t) override { return {}; }
    std::string modifierGlyph(platform::Modifier) override { return {}; }
};

class NoKeyEvents : public platform::KeyEvents {
  public:
    bool createSource() override { return false; }
    std::optional<platform::KeyEvent> createKeyboardEvent(bool, std::uint16_t, bool) override {
        return {};
    }
    void post(const platform::KeyEvent&) override {}
    void createAndReleaseEventTap() override {}
};

class NoAccessibility : public platform::Accessibility {
  public:
    bool isProcessTrusted() override { return false; }
    bool isProcessTrustedWithPrompt() override { return false; }
};

class NoClipboard : public platform::Clipboard {
  public:
    std::optional<std::string> text() override { return {}; }
    void clear() override {}
    void setText(const std::string&) override {}
    platform::ClipboardSnapshot snapshot() override { return {}; }
    void restore(const platform::ClipboardSnapshot&) override {}
};

}  // namespace

InputServices makeInputServices() {
    return {std::make_unique<NoHotKeys>(), std::make_unique<NoLayout>(),
            std::make_unique<NoKeyEvents>(), std::make_unique<NoAccessibility>(),
            std::make_unique<NoClipboard>()};
}

}  // namespace velmora::desktop
