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
#include "platform/linux/portal/PortalRequest.h"

namespace velmora::desktop {
namespace {

using platform::Capability;

const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRestoreTokenKey = QStringLiteral("RemoteDesktopRestoreToken");

constexpr uint kKeyboardDevice = 1;
// "Remember until revoked"; the portal takes it, and restore tokens, from version 2 on.
constexpr uint kPersistUntilRevoked = 2;
constexpr uint kFirstVersionWithRestore = 2;

// Key positions are Linux input key codes, which the portal takes as they are.
constexpr int kKeyLeftCtrl = platform::keys::LeftControl.position;

// Long enough for a desktop that starts the session without asking; one that shows a dialog
// gets its answer later, and the user is told to answer it meanwhile.
constexpr int kStartWaitMs = 3000;
constexpr int kKeyCallTimeoutMs = 2000;
constexpr auto kKeyHold = std::chrono::milliseconds(10);

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
        default:
            return Capability::no(
                "Allow Velmora to control the keyboard when the desktop asks: Velmora presses Copy "
                "and Paste for you in the application you are writing in. Choose Check "
                "Permissions in " +
                menu + " to be asked again.");
    }
}

platform::KeystrokeResult PortalKeystrokes::send(platform::Keystroke keystroke) {
    if (state_ != State::Started) {
        logLine("Remote desktop portal: no session; keystroke not sent.");
        return platform::KeystrokeResult::failed("The desktop's remote control session has ended.");
    }
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
        return platform::KeystrokeResult::failed(*failed);
    }
    return platform::KeystrokeResult::sent();
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
        const std::string error = reply.errorMessage().toStdString();
        logLine("Remote desktop portal: key not sent: " + forLog(error));
        return error;
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
    PortalRequest::call(
        this, kInterface, QStringLiteral("CreateSession"), {options},
        [this, version](const PortalResponse& response) {
            if (!response.ok()) {
                finish(response.noPortal() ? State::NoPortal : State::Failed);
                return;
            }
            session_ = pathResult(response.results.value(QStringLiteral("session_handle")));
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
    PortalRequest::call(
        this, kInterface, QStringLiteral("Start"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QString(), QVariantMap()},
        [this](const PortalResponse& response) {
            if (!response.ok()) {
                finish(response.code == 1 ? State::Declined : State::Failed);
                return;
            }
            const QString token =
                response.results.value(QStringLiteral("restore_token")).toString();
            if (!token.isEmpty()) {
                storeRestoreToken(token);
            }
            const uint devices =
                response.results.value(QStringLiteral("devices"), kKeyboardDevice).toUInt();
            finish((devices & kKeyboardDevice) != 0 ? State::Started : State::Declined);
        });
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
    state_ = State::Idle;
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
