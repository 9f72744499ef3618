#include "platform/linux/portal/PortalGlobalShortcuts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QTimer>

#include "base/Log.h"
#include "platform/linux/portal/CommandShortcut.h"
#include "platform/linux/portal/PortalReplies.h"
#include "platform/linux/portal/PortalRequest.h"
#include "platform/linux/portal/PortalTrigger.h"

namespace velmora::desktop {
namespace {

using platform::BindResult;
using platform::BindStatus;

// The portal's list of shortcuts, a(sa{sv}): an id and its properties.
using PortalShortcuts = QList<QPair<QString, QVariantMap>>;

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kShortcutId = QStringLiteral("rewrite");
// Longer than the keyboard's repeat delay: KWin repeats Activated 0.6 s after the press.
constexpr int kHeldExpiryMs = 1500;
// A press is passed on when the shortcut is let go, or after this while it is still held.
constexpr int kHoldLimitMs = 3000;

std::string failureReason(const PortalResponse& response) {
    if (response.noPortal()) {
        return "This desktop offers no global shortcut service.";
    }
    if (response.code == 1) {
        return "The shortcut was not set: the desktop's shortcut dialog was cancelled.";
    }
    return "The desktop could not set the shortcut.";
}

}  // namespace

class PortalGlobalShortcuts::Binding : public QObject, public platform::ShortcutBinding {
    Q_OBJECT
  public:
    Binding(PortalGlobalShortcuts& owner, std::optional<QString> trigger, Pressed pressed,
            Outcome outcome)
        : owner_(owner),
          trigger_(std::move(trigger)),
          pressed_(std::move(pressed)),
          outcome_(std::move(outcome)) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.connect(QLatin1String(kPortalService), QLatin1String(kPortalPath), kInterface,
                    QStringLiteral("Activated"), this, SLOT(onActivated(QDBusMessage)));
        bus.connect(QLatin1String(kPortalService), QLatin1String(kPortalPath), kInterface,
                    QStringLiteral("Deactivated"), this, SLOT(onDeactivated(QDBusMessage)));
        heldExpiry_.setSingleShot(true);
        heldExpiry_.setInterval(kHeldExpiryMs);
        connect(&heldExpiry_, &QTimer::timeout, this, [this] { held_ = false; });
        holdLimit_.setSingleShot(true);
        holdLimit_.setInterval(kHoldLimitMs);
        connect(&holdLimit_, &QTimer::timeout, this, &Binding::passOnPress);
        createSession();
    }

    ~Binding() override { closePortalSession(session_); }

  private slots:
    void onActivated(const QDBusMessage& message) {
        if (!isOurs(message)) {
            return;
        }
        // KWin repeats Activated while the keys are held; a held shortcut is one press.
        heldExpiry_.start();
        if (std::exchange(held_, true)) {
            return;
        }
        // The rewrite's copy must not meet the user's keys still down: the press waits for them.
        pressPending_ = true;
        holdLimit_.start();
    }

    void onDeactivated(const QDBusMessage& message) {
        if (isOurs(message)) {
            held_ = false;
            heldExpiry_.stop();
            passOnPress();
        }
    }

    void passOnPress() {
        holdLimit_.stop();
        if (!std::exchange(pressPending_, false) || !pressed_) {
            return;
        }
        // A copy: the callback may end this binding.
        const Pressed pressed = pressed_;
        pressed();
    }

  private:
    bool isOurs(const QDBusMessage& message) const {
        return isShortcutSignal(plainDBusValues(message.arguments()), session_, kShortcutId);
    }

    void createSession() {
        // KDE names the shortcut's settings after the session token, so it stays the same from
        // run to run; and its 5.27 portal takes the shortcuts only here, not in BindShortcuts.
        const QVariantMap options{
            {QStringLiteral("session_handle_token"), QStringLiteral("velmora")},
            {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts())}};
        PortalRequest::call(this, kInterface, QStringLiteral("CreateSession"), {options},
                            [this](const PortalResponse& response) {
                                if (!response.ok()) {
                                    fail(response);
                                    return;
                                }
                                session_ = sessionHandle(response.results);
                                bindShortcut();
                            });
    }

    PortalShortcuts shortcuts() const {
        QVariantMap properties{
            {QStringLiteral("description"), QStringLiteral("Rewrite the selected text")}};
        if (trigger_) {
            properties.insert(QStringLiteral("preferred_trigger"), *trigger_);
        }
        return {{kShortcutId, properties}};
    }

    void bindShortcut() {
        PortalRequest::call(
            this, kInterface, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts()),
             QString(), QVariantMap()},
            [this](const PortalResponse& response) {
                if (!response.ok()) {
                    fail(response);
                    return;
                }
                if (!owner_.sessionRenewed_) {
                    owner_.sessionRenewed_ = true;
                    closePortalSession(std::exchange(session_, QString()));
                    createSession();
                    return;
                }
                report({BindStatus::Bound, {}, boundTrigger(response.results, kShortcutId)});
            });
    }

    void fail(const PortalResponse& response) {
        logLine("Global shortcut portal: code " + std::to_string(response.code) + " " +
                response.busError.toStdString());
        closePortalSession(std::exchange(session_, QString()));
        report({BindStatus::Unavailable, failureReason(response) + " " + owner_.advice_,
                std::nullopt});
    }

    void report(const BindResult& result) {
        if (outcome_) {
            const Outcome outcome = std::exchange(outcome_, nullptr);
            outcome(result);
        }
    }

    PortalGlobalShortcuts& owner_;
    const std::optional<QString> trigger_;
    const Pressed pressed_;
    Outcome outcome_;
    QString session_;
    bool held_ = false;
    bool pressPending_ = false;
    // Lets go of a press whose Deactivated never comes.
    QTimer heldExpiry_;
    QTimer holdLimit_;
};

PortalGlobalShortcuts::PortalGlobalShortcuts(std::string program)
    : advice_(triggerCommandAdvice(std::move(program))) {
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<PortalShortcuts>();
}

PortalGlobalShortcuts::~PortalGlobalShortcuts() = default;

std::unique_ptr<platform::ShortcutBinding> PortalGlobalShortcuts::bind(
    const platform::Shortcut& shortcut, Pressed pressed, Outcome outcome) {
    return std::make_unique<Binding>(*this, portalTrigger(shortcut), std::move(pressed),
                                     std::move(outcome));
}

}  // namespace velmora::desktop

#include "PortalGlobalShortcuts.moc"
