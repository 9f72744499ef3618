#include "platform/linux/portal/PortalRequest.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QRandomGenerator>

namespace velmora::desktop {
namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

// The portal names a request /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER being
// our unique bus name without its colon and with dots as underscores.
QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("%1/request/%2/%3").arg(QLatin1String(kPortalPath), sender, token);
}

}  // namespace

PortalRequest::PortalRequest(QObject* context, Done done)
    : QObject(context), done_(std::move(done)) {}

QString PortalRequest::newToken() {
    return QStringLiteral("velmora%1").arg(QRandomGenerator::system()->generate64());
}

void PortalRequest::call(QObject* context, const QString& interface, const QString& method,
                         QVariantList arguments, Done done) {
    auto* request = new PortalRequest(context, std::move(done));
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = newToken();
    QVariantMap options = arguments.last().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.last() = options;
    request->listen(requestPath(bus, token));

    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(kPortalService), QLatin1String(kPortalPath), interface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), request);
    connect(watcher, &QDBusPendingCallWatcher::finished, request,
            [request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (reply.isError()) {
                    request->finish({2, {}, reply.error().message()});
                } else if (reply.value().path() != request->path_) {
                    // Portals older than 0.9 choose the path themselves.
                    request->listen(reply.value().path());
                }
            });
}

void PortalRequest::listen(const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!path_.isEmpty()) {
        bus.disconnect(QLatin1String(kPortalService), path_, kRequestInterface,
                       QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    }
    path_ = path;
    bus.connect(QLatin1String(kPortalService), path_, kRequestInterface, QStringLiteral("Response"),
                this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::onResponse(uint code, const QVariantMap& results) {
    finish({code, plainDBusValue(results).toMap(), {}});
}

void PortalRequest::finish(const PortalResponse& response) {
    if (!done_) {
        return;
    }
    // Gone before `done` runs: the caller may well destroy what owns this request.
    Done done = std::move(done_);
    done_ = nullptr;
    deleteLater();
    done(response);
}

namespace {

QVariant plainArgument(const QDBusArgument& argument) {
    switch (argument.currentType()) {
        case QDBusArgument::ArrayType:
        case QDBusArgument::StructureType: {
            const bool array = argument.currentType() == QDBusArgument::ArrayType;
            array ? argument.beginArray() : argument.beginStructure();
            QVariantList items;
            while (!argument.atEnd()) {
                items << plainDBusValue(argument.asVariant());
            }
            array ? argument.endArray() : argument.endStructure();
            return items;
        }
        case QDBusArgument::MapType: {
            argument.beginMap();
            QVariantMap map;
            while (!argument.atEnd()) {
                argument.beginMapEntry();
                const QVariant key = plainDBusValue(argument.asVariant());
                map.insert(key.toString(), plainDBusValue(argument.asVariant()));
                argument.endMapEntry();
            }
            argument.endMap();
            return map;
        }
        default:
            return plainDBusValue(argument.asVariant());
    }
}

}  // namespace

QVariant plainDBusValue(const QVariant& value) {
    const QMetaType type = value.metaType();
    if (type == QMetaType::fromType<QDBusArgument>()) {
        return plainArgument(value.value<QDBusArgument>());
    }
    if (type == QMetaType::fromType<QDBusVariant>()) {
        return plainDBusValue(value.value<QDBusVariant>().variant());
    }
    if (type == QMetaType::fromType<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    if (type == QMetaType::fromType<QDBusSignature>()) {
        return value.value<QDBusSignature>().signature();
    }
    if (type == QMetaType::fromType<QVariantMap>()) {
        QVariantMap map = value.toMap();
        for (QVariant& item : map) {
            item = plainDBusValue(item);
        }
        return map;
    }
    if (type == QMetaType::fromType<QVariantList>()) {
        return plainDBusValues(value.toList());
    }
    return value;
}

QVariantList plainDBusValues(const QVariantList& values) {
    QVariantList plain;
    for (const QVariant& value : values) {
        plain << plainDBusValue(value);
    }
    return plain;
}

void closePortalSession(const QString& sessionPath) {
    if (sessionPath.isEmpty()) {
        return;
    }
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
        QLatin1String(kPortalService), sessionPath,
        QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

}  // namespace velmora::desktop
