#include "platform/linux/portal/PortalTrigger.h"

#include "platform/linux/SystemKeymap.h"

namespace velmora::desktop {

std::optional<QString> portalTrigger(const platform::Shortcut& shortcut) {
    using platform::Modifier;
    // A Wayland client cannot read the compositor's layout without a keyboard of its own.
    const std::optional<std::string> key = SystemKeymap().keysymName(shortcut.key);
    if (!key) {
        return std::nullopt;
    }
    QString trigger;
    const std::pair<Modifier, const char*> names[] = {{Modifier::Control, "CTRL+"},
                                                      {Modifier::Alt, "ALT+"},
                                                      {Modifier::Shift, "SHIFT+"},
                                                      {Modifier::Super, "LOGO+"}};
    for (const auto& [modifier, name] : names) {
        if (shortcut.modifiers.has(modifier)) {
            trigger += QLatin1String(name);
        }
    }
    return trigger + QString::fromStdString(*key);
}

}  // namespace velmora::desktop
