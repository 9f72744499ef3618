#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>

namespace velmora::desktop {

// Where the desktop portal answers on the session bus.
inline constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

// How a portal call ended. `code` is the Request's own answer: 0 done, 1 cancelled by the user,
// 2 ended otherwise. A call the bus refused (no portal, no such interface) counts as 2 and carries
// the bus's error text. The results are plain values (plainDBusValue), read with PortalReplies.h.
struct PortalResponse {
    uint code = 2;
    QVariantMap results;
    QString busError;

    bool ok() const { return code == 0; }
    bool noPortal() const { return !busError.isEmpty(); }
};

// One portal call whose answer comes later, as its Request object's Response signal. The signal is
// subscribed before the call goes out, at the path the portal derives from our handle token, so
// an answer that arrives before the call's own reply is not lost.
class PortalRequest : public QObject {
    Q_OBJECT
  public:
    using Done = std::function<void(const PortalResponse&)>;

    // Calls `method` of the portal `interface`; the last of `arguments` is the options map, which
    // gets the handle token. `done` runs once on this thread, unless `context` goes first.
    static void call(QObject* context, const QString& interface, const QString& method,
                     QVariantList arguments, Done done);

    // A fresh, unguessable token for a request or session handle.
    static QString newToken();

  private slots:
    void onResponse(uint code, const QVariantMap& results);

  private:
    PortalRequest(QObject* context, Done done);
    void listen(const QString& path);
    void finish(const PortalResponse& response);

    Done done_;
    QString path_;
};

// The value with the bus's own types replaced, at every depth, by plain ones: an object path or a
// signature by its string, a variant by its value, arrays and structures by lists, dictionaries
// by maps keyed by their keys' text.
QVariant plainDBusValue(const QVariant& value);
QVariantList plainDBusValues(const QVariantList& values);

// Ends a portal session; nothing waits for the answer.
void closePortalSession(const QString& sessionPath);

}  // namespace velmora::desktop
