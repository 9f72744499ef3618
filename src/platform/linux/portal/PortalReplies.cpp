#include "platform/linux/portal/PortalReplies.h"

namespace velmora::desktop {
namespace {

constexpr uint kKeyboardDevice = 1;

}  // namespace

QString sessionHandle(const QVariantMap& results) {
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    return handle.typeId() == QMetaType::QString ? handle.toString() : QString();
}

RemoteDesktopGrant remoteDesktopGrant(const QVariantMap& results) {
    // Portals before version 2 name no devices: they grant what was asked for, the keyboard.
    bool named = false;
    const uint devices = results.value(QStringLiteral("devices"), kKeyboardDevice).toUInt(&named);
    const QVariant token = results.value(QStringLiteral("restore_token"));
    return {named && (devices & kKeyboardDevice) != 0,
            token.typeId() == QMetaType::QString ? token.toString() : QString()};
}

std::optional<std::string> boundTrigger(const QVariantMap& results, const QString& id) {
    // a(sa{sv}): each shortcut an id and its properties.
    for (const QVariant& entry : results.value(QStringLiteral("shortcuts")).toList()) {
        const QVariantList shortcut = entry.toList();
        if (shortcut.size() != 2 || shortcut[0] != QVariant(id)) {
            continue;
        }
        const QVariant description =
            shortcut[1].toMap().value(QStringLiteral("trigger_description"));
        if (description.typeId() == QMetaType::QString && !description.toString().isEmpty()) {
            return description.toString().toStdString();
        }
    }
    return std::nullopt;
}

bool isShortcutSignal(const QVariantList& arguments, const QString& session, const QString& id) {
    return arguments.size() >= 2 && !session.isEmpty() && arguments[0] == QVariant(session) &&
           arguments[1] == QVariant(id);
}

}  // namespace velmora::desktop
