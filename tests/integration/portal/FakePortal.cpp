#include "FakePortal.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>

namespace {

using Shortcuts = QList<QPair<QString, QVariantMap>>;
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");

QString handlePath(const QDBusMessage& call, const char* kind, const QVariantMap& options,
                   const char* tokenKey) {
    QString sender = call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPath + "/" + kind + "/" + sender + "/" + options.value(tokenKey).toString();
}

}  // namespace

class FakePortal::Object : public QDBusVirtualObject {
  public:
    explicit Object(FakePortal& fake) : fake_(fake) {}
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        std::lock_guard lock(fake_.mutex_);
        const Script& script = fake_.script_;
        Record& record = fake_.record_;
        const QString method = call.member();
        const QVariantList args = call.arguments();
        const QVariantMap options =
            args.isEmpty() ? QVariantMap() : qdbus_cast<QVariantMap>(args.last());
        const QString request = handlePath(call, "request", options, "handle_token");
        // The answer goes out before the call's own reply: the harder order for the program.
        auto respond = [&](uint code, const QVariantMap& results) {
            bus.send(
                QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response")
                << code << results);
            bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        };
        if (method == "Get") {
            bus.send(call.createReply(QVariant::fromValue(QDBusVariant(script.version))));
        } else if (method == "Close") {
            record.openSessions.removeAll(call.path());
            bus.send(call.createReply());
        } else if (method == "CreateSession") {
            const QString session = handlePath(call, "session", options, "session_handle_token");
            if (script.createCode == 0) {
                record.openSessions << session;
            }
            // xdg-desktop-portal sends the handle as a string, not as an object path.
            respond(script.createCode, {{"session_handle", session}});
        } else if (method == "BindShortcuts") {
            const auto shortcuts = qdbus_cast<Shortcuts>(args[1].value<QDBusArgument>());
            record.preferredTrigger =
                shortcuts.value(0).second.value("preferred_trigger").toString();
            const Shortcuts bound{
                {shortcuts.value(0).first, {{"trigger_description", script.triggerDescription}}}};
            respond(script.bindCode, {{"shortcuts", QVariant::fromValue(bound)}});
        } else if (method == "SelectDevices") {
            record.selectOptions = options;
            respond(0, {});
        } else if (method == "Start") {
            QVariantMap results{{"devices", 1U}};
            if (script.version >= 2) {
                results.insert("restore_token", script.restoreToken);
            }
            respond(script.startCode, results);
        } else if (method == "NotifyKeyboardKeycode") {
            const int code = args[2].toInt();
            const bool down = args[3].toUInt() == 1;
            if (script.refusesAllKeys) {
                bus.send(call.createErrorReply(QDBusError::Failed, "Invalid key event"));
                return true;
            }
            if (down || !script.ignoresOthersKeys || fake_.ours_.contains(code)) {
                fake_.key(code, down);
            }
            bus.send(call.createReply());
        } else {
            return false;
        }
        return true;
    }

  private:
    FakePortal& fake_;
};

FakePortal::FakePortal(Script script)
    : script_(std::move(script)),
      object_(std::make_unique<Object>(*this)),
      bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-portal")) {
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<Shortcuts>();
    bus_.registerVirtualObject(kPath, object_.get(), QDBusConnection::SubPath);
    object_->moveToThread(&thread_);
    thread_.start();
    bus_.registerService("org.freedesktop.portal.Desktop");
}

FakePortal::~FakePortal() {
    bus_.unregisterService("org.freedesktop.portal.Desktop");
    bus_.unregisterObject(kPath, QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus("fake-portal");
    thread_.quit();
    thread_.wait();
}

void FakePortal::userHolds(std::chrono::milliseconds letGoAfter) {
    std::lock_guard lock(mutex_);
    userLetsGo_ = std::chrono::steady_clock::now() + letGoAfter;
    count(29, true);
    count(42, true);
}

void FakePortal::key(int code, bool down) {
    const auto now = std::chrono::steady_clock::now();
    if (userLetsGo_ && now >= *userLetsGo_) {
        userLetsGo_.reset();
        count(29, false);
        count(42, false);
    }
    firstKey_ = firstKey_.value_or(now);
    if (script_.ignoresOthersKeys && now < *firstKey_ + std::chrono::milliseconds(100)) {
        return;
    }
    down ? void(ours_ << code) : void(ours_.removeOne(code));
    count(code, down);
    if (down && (code == 46 || code == 47)) {
        record_.typed << QString(down_[29] > 0 ? "Ctrl+" : "") + (down_[42] > 0 ? "Shift+" : "") +
                             (code == 46 ? "C" : "V");
    }
}

void FakePortal::count(int code, bool down) {
    down_[code] = std::max(0, down_[code] + (down ? 1 : -1));
}

FakePortal::Record FakePortal::record() {
    std::lock_guard lock(mutex_);
    // By the time anyone looks, the user has let go.
    if (userLetsGo_) {
        userLetsGo_ = std::chrono::steady_clock::time_point::min();
        key(0, false);  // KEY_RESERVED: nothing changes but the user's keys
    }
    Record record = record_;
    record.keysDown = std::count_if(down_.begin(), down_.end(), [](int n) { return n > 0; });
    return record;
}
