#pragma once

#include <QString>
#include <QVariant>
#include <optional>
#include <string>

namespace velmora::desktop {

// What the desktop portal's answers say. They are read from plain values (maps, lists, strings,
// numbers), into which plainDBusValue (PortalRequest.h) turns the bus's own types, so reading
// needs no bus; a value that is missing or of another shape reads as not given.

// The session a CreateSession answer names; empty when it names none.
QString sessionHandle(const QVariantMap& results);

// What a RemoteDesktop Start answer granted.
struct RemoteDesktopGrant {
    bool keyboard = false;
    QString restoreToken;  // empty when the portal handed out none
};
RemoteDesktopGrant remoteDesktopGrant(const QVariantMap& results);

// The trigger the desktop gave the shortcut `id`, as a BindShortcuts answer describes it
// ("Ctrl+Shift+P").
std::optional<std::string> boundTrigger(const QVariantMap& results, const QString& id);

// Whether the arguments of a GlobalShortcuts Activated or Deactivated signal are about the
// shortcut `id` of `session`.
bool isShortcutSignal(const QVariantList& arguments, const QString& session, const QString& id);

}  // namespace velmora::desktop
