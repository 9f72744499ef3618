#include "platform/linux/portal/PortalKeystrokes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QSettings>
#include <QTimer>
#include <chrono>
#include <memory>
#include <thread>

#include "base/Log.h"
#include "platform/Keys.h"
#include "platform/linux/portal/PortalReplies.h"
#include "platform/linux/portal/PortalRequest.h"

namespace velmora::desktop {
namespace {

using platform::Capability;
using Clock = std::chrono::steady_clock;

const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRestoreTokenKey = QStringLiteral("RemoteDesktopRestoreToken");

constexpr uint kKeyboardDevice = 1;
// "Remember until revoked"; the portal takes it, and restore tokens, from version 2 on.
constexpr uint kPersistUntilRevoked = 2;
constexpr uint kFirstVersionWithRestore = 2;

// Key positions are Linux input key codes, which the portal takes as they are.
constexpr int kKeyLeftCtrl = platform::keys::LeftControl.position;
// Every modifier key but Control: Shift, Alt and Super, left and right.
constexpr int kOtherModifierKeys[] = {42, 54, 56, 100, 125, 126};
// KEY_RESERVED: a key that types nothing and that no layout maps.
constexpr int kNoKey = 0;

// Long enough for a desktop that starts the session without asking; one that shows a dialog
// gets its answer later, and the user is told to answer it meanwhile.
constexpr int kStartWaitMs = 3000;
constexpr int kKeyCallTimeoutMs = 2000;
constexpr auto kKeyHold = std::chrono::milliseconds(10);
// mutter drops the keys a new remote keyboard sends while it sets the keyboard up, which its
// first key starts: this long after a key that types nothing, the next ones arrive.
constexpr auto kNewKeyboardSettle = std::chrono::milliseconds(200);
// Presses come once the shortcut's key is let go (PortalGlobalShortcuts, TriggerRepeats); people
// let go of its modifiers just after it. The copy gives them this long: no desktop says when they
// are up, and mutter does not let another keyboard release them.
constexpr auto kModifiersLetGo = std::chrono::milliseconds(150);

// Velmora's own settings, where the rest of the program keeps its preferences.
std::unique_ptr<QSettings> openSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("velmora"), QStringLiteral("velmora"));
}

QString storedRestoreToken() {
    return openSettings()->value(kRestoreTokenKey).toString();
}

void storeRestoreToken(const QString& token) {
    openSettings()->setValue(kRestoreTokenKey, token);
}

}  // namespace

PortalKeystrokes::PortalKeystrokes(std::function<std::string()> menuLocation)
    : menuLocation_(std::move(menuLocation)) {}

PortalKeystrokes::~PortalKeystrokes() {
    endSession();
}

Capability PortalKeystrokes::permission(bool mayAsk) {
    if (mayAsk && state_ != State::Started) {
        if (state_ != State::Starting) {
            start();
        }
        waitForStart();
    }
    const std::string menu = menuLocation_ ? menuLocation_() : "Velmora's menu";
    switch (state_) {
        case State::Started:
            return Capability::yes();
        case State::NoPortal:
            return Capability::no(
                "Velmora cannot press Copy and Paste for you on this desktop: it offers no remote "
                "control service (the desktop portal's RemoteDesktop). Install xdg-desktop-portal "
                "and your desktop's portal package, then log in again.");
        case State::Failed:
            return Capability::no(
                "The desktop did not let Velmora control the keyboard, which it needs to press "
                "Copy and Paste for you. Choose Check Permissions in " +
                menu + " to try again.");
        case State::Declined:
            return Capability::no(
                "Velmora was not allowed to control the keyboard, which it needs to press Copy "
                "and Paste for you. Choose Check Permissions in " +
                menu +
                " to be asked again. (On GNOME, tick \"Allow remote interaction\" before you "
                "choose Share.)");
        case State::Ended:
            return Capability::no(
                "The desktop has taken back Velmora's control of the keyboard (on GNOME, \"Stop "
                "Screen Sharing\" does this), so Velmora cannot press Copy and Paste for you. "
                "Choose Check Permissions in " +
                menu + " to allow it again.");
        default:
            return Capability::no(
                "Velmora presses Copy and Paste for you in the application you are writing in, "
                "through the desktop's remote control, which you allow once the desktop asks. "
                "GNOME asks in a \"Remote desktop\" window: tick \"Allow remote interaction\", "
                "then choose Share. While Velmora may type, GNOME shows a \"Stop Screen Sharing\" "
                "button at the top of the screen; choosing it takes the control back. Choose Check "
                "Permissions in " +
                menu + " to be asked again.");
    }
}

platform::KeystrokeResult PortalKeystrokes::send(platform::Keystroke keystroke) {
    if (state_ != State::Started) {
        logLine("Remote desktop portal: no session; keystroke not sent.");
        return platform::KeystrokeResult::failed("The desktop's remote control session has ended.");
    }
    if (keystroke == platform::Keystroke::Copy) {
        std::this_thread::sleep_for(kModifiersLetGo);
    }
    std::this_thread::sleep_until(readyAt_);
    liftOtherModifiers();
    const int key =
        (keystroke == platform::Keystroke::Copy ? platform::keys::C : platform::keys::V).position;
    std::optional<std::string> error = sendKey(kKeyLeftCtrl, true);
    if (!error) {
        error = sendKey(key, true);
    }
    if (!error) {
        std::this_thread::sleep_for(kKeyHold);
    }
    // Released whatever happened, so no key is left held down.
    const auto keyUp = sendKey(key, false);
    const auto controlUp = sendKey(kKeyLeftCtrl, false);
    if (const auto failed = error ? error : keyUp ? keyUp : controlUp) {
        logLine("Remote desktop portal: key not sent: " + forLog(*failed));
        return platform::KeystrokeResult::failed(*failed);
    }
    return platform::KeystrokeResult::sent();
}

// The desktop keeps one keyboard state for all its keyboards: a modifier the user still holds
// would join the chord. KWin lets this keyboard release it (the user's own release then changes
// nothing); mutter ignores the release of a key this keyboard did not press.
void PortalKeystrokes::liftOtherModifiers() {
    for (const int key : kOtherModifierKeys) {
        if (const auto refused = sendKey(key, false)) {
            logLine("Remote desktop portal: could not release a modifier: " + forLog(*refused));
            return;
        }
    }
}

std::optional<std::string> PortalKeystrokes::sendKey(int code, bool down) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1String(kPortalService), QLatin1String(kPortalPath),
                                       kInterface, QStringLiteral("NotifyKeyboardKeycode"));
    message << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap() << code
            << uint{down ? 1U : 0U};
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(message, QDBus::Block, kKeyCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        return reply.errorMessage().toStdString();
    }
    return std::nullopt;
}

void PortalKeystrokes::start() {
    state_ = State::Starting;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(kPortalService), QLatin1String(kPortalPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << kInterface << QStringLiteral("version");
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                if (reply.isError()) {
                    logLine("Remote desktop portal: " + reply.error().message().toStdString());
                    finish(State::NoPortal);
                    return;
                }
                createSession(reply.value().variant().toUInt());
            });
}

void PortalKeystrokes::createSession(uint version) {
    const QVariantMap options{{QStringLiteral("session_handle_token"), PortalRequest::newToken()}};
    PortalRequest::call(this, kInterface, QStringLiteral("CreateSession"), {options},
                        [this, version](const PortalResponse& response) {
                            if (!response.ok()) {
                                finish(response.noPortal() ? State::NoPortal : State::Failed);
                                return;
                            }
                            session_ = sessionHandle(response.results);
                            watchSession(true);
                            selectDevices(version);
                        });
}

void PortalKeystrokes::selectDevices(uint version) {
    QVariantMap options{{QStringLiteral("types"), kKeyboardDevice}};
    if (version >= kFirstVersionWithRestore) {
        options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        const QString token = storedRestoreToken();
        if (!token.isEmpty()) {
            options.insert(QStringLiteral("restore_token"), token);
        }
    }
    PortalRequest::call(this, kInterface, QStringLiteral("SelectDevices"),
                        {QVariant::fromValue(QDBusObjectPath(session_)), options},
                        [this](const PortalResponse& response) {
                            if (!response.ok()) {
                                finish(State::Failed);
                                return;
                            }
                            startSession();
                        });
}

void PortalKeystrokes::startSession() {
    PortalRequest::call(this, kInterface, QStringLiteral("Start"),
                        {QVariant::fromValue(QDBusObjectPath(session_)), QString(), QVariantMap()},
                        [this](const PortalResponse& response) { started(response); });
}

void PortalKeystrokes::started(const PortalResponse& response) {
    if (!response.ok()) {
        finish(response.code == 1 ? State::Declined : State::Failed);
        return;
    }
    const RemoteDesktopGrant grant = remoteDesktopGrant(response.results);
    if (!grant.restoreToken.isEmpty()) {
        storeRestoreToken(grant.restoreToken);
    }
    if (!grant.keyboard) {
        finish(State::Declined);
        return;
    }
    // Sets the desktop's new keyboard up before a key of the user's text depends on it.
    sendKey(kNoKey, true);
    sendKey(kNoKey, false);
    readyAt_ = Clock::now() + kNewKeyboardSettle;
    finish(State::Started);
}

void PortalKeystrokes::finish(State state) {
    state_ = state;
    if (state != State::Started) {
        endSession();
    }
    if (waiting_ != nullptr) {
        waiting_->quit();
    }
}

void PortalKeystrokes::watchSession(bool watch) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString interface = QStringLiteral("org.freedesktop.portal.Session");
    if (watch) {
        bus.connect(QLatin1String(kPortalService), session_, interface, QStringLiteral("Closed"),
                    this, SLOT(onSessionClosed()));
    } else {
        bus.disconnect(QLatin1String(kPortalService), session_, interface, QStringLiteral("Closed"),
                       this, SLOT(onSessionClosed()));
    }
}

void PortalKeystrokes::endSession() {
    if (session_.isEmpty()) {
        return;
    }
    watchSession(false);
    closePortalSession(std::exchange(session_, QString()));
}

void PortalKeystrokes::onSessionClosed() {
    watchSession(false);
    logLine("Remote desktop portal: the desktop ended the session.");
    session_.clear();
    state_ = State::Ended;
}

void PortalKeystrokes::waitForStart() {
    if (waiting_ != nullptr || state_ != State::Starting) {
        return;
    }
    // Serves events, as a modal dialog does, so the portal's answers arrive.
    QEventLoop loop;
    waiting_ = &loop;
    QTimer::singleShot(kStartWaitMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    waiting_ = nullptr;
}

}  // namespace velmora::desktop
