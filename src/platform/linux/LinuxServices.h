#pragma once

#include <memory>

#include "platform/Accessibility.h"
#include "platform/Clipboard.h"
#include "platform/HotKeys.h"
#include "platform/Http.h"
#include "platform/KeyEvents.h"
#include "platform/Keychain.h"

// Factories of the Linux services that are not Qt widgets; the entry point composes them with the
// Qt shell into one platform.
namespace velmora::desktop {

// The process's one HTTPS session (libcurl). `timeoutSeconds` counts time without progress.
std::unique_ptr<platform::HttpSession> makeHttpSession(double timeoutSeconds = 60.0);

// The secret store on the Secret Service (libsecret).
std::unique_ptr<platform::Keychain> makeSecretServiceKeychain();

// Keyboard and clipboard services on X11; made after the QApplication exists.
struct InputServices {
    std::unique_ptr<platform::HotKeys> hotKeys;
    std::unique_ptr<platform::KeyboardLayout> keyboardLayout;
    std::unique_ptr<platform::KeyEvents> keyEvents;
    std::unique_ptr<platform::Accessibility> accessibility;
    std::unique_ptr<platform::Clipboard> clipboard;
};
InputServices makeInputServices();

}  // namespace velmora::desktop
