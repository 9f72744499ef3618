// The desktop portal's answers, and any bus client's signals, as plain values of any shape (here
// from JSON: a map of results, a list of signal arguments, a session and a shortcut id): reading
// them never fails, and what is read was there.
#include <QJsonArray>
#include <QJsonDocument>

#include "FuzzSupport.h"
#include "platform/linux/portal/PortalReplies.h"

using namespace velmora::desktop;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QJsonArray input =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), int(size))).array();
    const QVariantMap results = input.at(0).toVariant().toMap();
    const QVariantList arguments = input.at(1).toVariant().toList();
    const QString session = input.at(2).toString();
    const QString id = input.at(3).toString();

    const QString handle = sessionHandle(results);
    FUZZ_CHECK(handle.isEmpty() || results.value("session_handle") == QVariant(handle));
    const RemoteDesktopGrant grant = remoteDesktopGrant(results);
    FUZZ_CHECK(grant.restoreToken.isEmpty() ||
               results.value("restore_token") == QVariant(grant.restoreToken));
    FUZZ_CHECK(!grant.keyboard || !results.contains("devices") ||
               (results.value("devices").toUInt() & 1) != 0);
    const auto trigger = boundTrigger(results, id);
    FUZZ_CHECK(!trigger || (!trigger->empty() && results.contains("shortcuts")));
    if (isShortcutSignal(arguments, session, id)) {
        FUZZ_CHECK(!session.isEmpty() && arguments.value(0) == QVariant(session) &&
                   arguments.value(1) == QVariant(id));
    }
    return 0;
}
