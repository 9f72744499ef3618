#include "platform/linux/portal/PortalTrigger.h"

#include <xkbcommon/xkbcommon.h>

#include <QFile>
#include <QRegularExpression>
#include <memory>

namespace velmora::desktop {
namespace {

using platform::Modifier;

// Key positions are the Linux input layer's codes; XKB numbers the same keys 8 higher.
constexpr xkb_keycode_t kXkbKeycodeOffset = 8;

struct ContextFree {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapFree {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};

// A Wayland client cannot read the compositor's layout without a keyboard of its own: take the
// layout the system was set up with (XKB_DEFAULT_* from the environment win over it, as
// libxkbcommon reads them for every field left empty).
struct SystemLayout {
    QByteArray model, layout, variant, options;
};

SystemLayout systemLayout() {
    SystemLayout names;
    if (qEnvironmentVariableIsSet("XKB_DEFAULT_LAYOUT")) {
        return names;
    }
    QFile file(QStringLiteral("/etc/default/keyboard"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return names;
    }
    static const QRegularExpression line(QStringLiteral("^(XKB\\w+)=\"?([^\"]*)\"?$"));
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const auto match = line.match(QString::fromUtf8(raw.trimmed()));
        const QByteArray value = match.captured(2).toUtf8();
        const QString key = match.captured(1);
        if (key == QLatin1String("XKBMODEL")) {
            names.model = value;
        } else if (key == QLatin1String("XKBLAYOUT")) {
            names.layout = value;
        } else if (key == QLatin1String("XKBVARIANT")) {
            names.variant = value;
        } else if (key == QLatin1String("XKBOPTIONS")) {
            names.options = value;
        }
    }
    return names;
}

const char* orDefault(const QByteArray& value) {
    return value.isEmpty() ? nullptr : value.constData();
}

std::optional<QString> keysymName(platform::Key key) {
    const std::unique_ptr<xkb_context, ContextFree> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context) {
        return std::nullopt;
    }
    const SystemLayout layout = systemLayout();
    const xkb_rule_names names{nullptr, orDefault(layout.model), orDefault(layout.layout),
                               orDefault(layout.variant), orDefault(layout.options)};
    const std::unique_ptr<xkb_keymap, KeymapFree> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return std::nullopt;
    }
    const xkb_keysym_t* symbols = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(
        keymap.get(), key.position + kXkbKeycodeOffset, 0, 0, &symbols);
    char name[64];
    if (count < 1 || xkb_keysym_get_name(symbols[0], name, sizeof name) <= 0) {
        return std::nullopt;
    }
    return QString::fromLatin1(name);
}

}  // namespace

std::optional<QString> portalTrigger(const platform::Shortcut& shortcut) {
    const std::optional<QString> key = keysymName(shortcut.key);
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
    return trigger + *key;
}

}  // namespace velmora::desktop
