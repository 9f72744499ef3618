#include "platform/linux/QtApplication.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <cerrno>
#include <chrono>
#include <memory>
#include <utility>

#include "base/Log.h"
#include "platform/linux/RunningProgram.h"
#include "platform/linux/SingleInstance.h"
#include "platform/linux/XdgAutostart.h"

namespace velmora::desktop {
namespace {

// The object path the freedesktop rules derive from the application's id.
const QString kObjectPath = QStringLiteral("/app/velmora/Velmora");

// How long an opener may take to fail; one still running then is showing the page.
constexpr std::chrono::seconds kOpenerGrace{10};

}  // namespace

// org.freedesktop.Application, as launchers call it: every request goes through the same reader as
// the instance socket's lines.
class QtApplication::BusAdaptor : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
  public:
    explicit BusAdaptor(QtApplication& application) : application_(application) {}

  public slots:
    void Activate(const QVariantMap&) { perform({}); }
    void Open(const QStringList& uris, const QVariantMap&) {
        for (const QString& uri : uris) {
            if (!uri.isEmpty()) {
                perform(uri.toStdString());
            }
        }
    }
    void ActivateAction(const QString& name, const QVariantList&, const QVariantMap&) {
        perform(std::string(InstanceRequest::kActionPrefix) + name.toStdString());
    }

  private:
    void perform(const std::string& line) {
        if (const auto request = InstanceMessage::read(line + "\n", true).request) {
            application_.perform(*request);
        }
    }

    QtApplication& application_;
};

QtApplication::QtApplication(platform::MainQueue& queue) : queue_(queue) {}

QtApplication::~QtApplication() {
    for (auto& [fd, peer] : peers_) {
        ::close(fd);
    }
    if (busAdaptor_) {
        // Before the instance's lock goes: the next instance may then take the name at once.
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QString::fromLatin1(kApplicationId));
        bus.unregisterObject(kObjectPath);
    }
    // An opener that still runs holds a browser it started; that browser, in its own session,
    // stays.
    for (QProcess* opener : findChildren<QProcess*>()) {
        opener->kill();
        opener->waitForFinished(1000);
    }
}

std::optional<std::string> QtApplication::version() const {
    return VELMORA_VERSION;
}

void QtApplication::terminate() {
    // Queued, so the menu action that asked returns before the loops unwind.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

void QtApplication::openURL(const std::string& url, OpenDone done) {
    // Told once: by the opener's end, its failure to start, or the grace period.
    auto report =
        [url, done = std::make_shared<OpenDone>(std::move(done))](platform::OpenResult result) {
            if (result == platform::OpenResult::NotOpened) {
                logLine("Could not open " + url);
            }
            if (*done) {
                std::exchange(*done, nullptr)(result);
            }
        };
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid()) {
        queue_.async([report] { report(platform::OpenResult::NotOpened); });
        return;
    }
    auto* opener = new QProcess(this);
    opener->setProgram(QStringLiteral("xdg-open"));
    opener->setArguments({parsed.toString(QUrl::FullyEncoded)});
    // The browser would otherwise write its own diagnostics into Velmora's output.
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    opener->setChildProcessModifier([] { ::setsid(); });
    connect(opener, &QProcess::finished, opener,
            [opener, report](int code, QProcess::ExitStatus status) {
                report(code == 0 && status == QProcess::NormalExit
                           ? platform::OpenResult::Opened
                           : platform::OpenResult::NotOpened);
                opener->deleteLater();
            });
    connect(opener, &QProcess::errorOccurred, opener,
            [opener, report, parsed](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart) {
                    return;
                }
                report(QDesktopServices::openUrl(parsed) ? platform::OpenResult::Opened
                                                         : platform::OpenResult::NotOpened);
                opener->deleteLater();
            });
    QTimer::singleShot(kOpenerGrace, opener, [report] { report(platform::OpenResult::Opened); });
    opener->start();
}

void QtApplication::setUrlHandler(UrlHandler handler) {
    urlHandler_ = std::move(handler);
}

bool QtApplication::startsAtLogin() const {
    return XdgAutostart(runningProgramPath()).enabled();
}

std::optional<std::string> QtApplication::setStartsAtLogin(bool on) {
    const XdgAutostart autostart(runningProgramPath());
    const auto problem = autostart.setEnabled(on);
    if (!problem) {
        logLine(std::string(on ? "Starts at login: wrote " : "Starts at login no more: removed ") +
                XdgAutostart::entryPath());
    }
    return problem;
}

void QtApplication::setTriggerHandler(TriggerHandler handler) {
    triggerHandler_ = std::move(handler);
}

void QtApplication::setReopenHandler(ReopenHandler handler) {
    reopenHandler_ = std::move(handler);
}

void QtApplication::setActionHandler(ActionHandler handler) {
    actionHandler_ = std::move(handler);
}

void QtApplication::serveSessionBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logLine("No session bus: launchers reach Velmora through its command line only.");
        return;
    }
    busAdaptor_ = std::make_unique<BusAdaptor>(*this);
    const QString name = QString::fromLatin1(kApplicationId);
    if (!bus.registerObject(kObjectPath, busAdaptor_.get(), QDBusConnection::ExportAllSlots)) {
        logLine("Could not serve " + kObjectPath.toStdString() + " on the session bus.");
        return;
    }
    // Queued rather than refused: an instance that has just quit may still hold the name for a
    // moment, and its lock is already free.
    const auto reply =
        bus.interface()->registerService(name, QDBusConnectionInterface::QueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        logLine("Could not take the name " + name.toStdString() +
                " on the session bus: " + reply.error().message().toStdString());
    } else if (reply.value() == QDBusConnectionInterface::ServiceQueued) {
        logLine("The name " + name.toStdString() +
                " on the session bus is still held; Velmora takes it once it is free.");
    }
}

void QtApplication::perform(const InstanceRequest& request) {
    switch (request.kind) {
        case InstanceRequest::Kind::Reopen:
            reopen();
            break;
        case InstanceRequest::Kind::Trigger:
            if (triggerHandler_) {
                triggerHandler_();
            }
            break;
        case InstanceRequest::Kind::Action:
            performAction(request.value);
            break;
        case InstanceRequest::Kind::Url:
            deliverUrl(request.value);
            break;
    }
}

// At once, during event dispatch: showing the menu needs nothing of the logic, which a notice may
// be holding.
void QtApplication::reopen() {
    if (reopenHandler_) {
        reopenHandler_();
    }
}

void QtApplication::performAction(const std::string& name) {
    queue_.async([this, name] {
        if (actionHandler_) {
            actionHandler_(name);
        }
    });
}

// A plain socket rather than the toolkit's network module, which the idle program would otherwise
// load for this alone.
void QtApplication::listen(int listenFd) {
    listenFd_ = listenFd;
    listenNotifier_ = std::make_unique<QSocketNotifier>(listenFd_, QSocketNotifier::Read);
    connect(listenNotifier_.get(), &QSocketNotifier::activated, this,
            &QtApplication::acceptConnections);
}

void QtApplication::deliverUrl(const std::string& url) {
    queue_.async([this, url] {
        if (urlHandler_) {
            urlHandler_(url);
        }
    });
}

void QtApplication::acceptConnections() {
    for (int fd;
         (fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        if (!SingleInstance::peerIsThisUser(fd)) {
            logLine("Refused a connection to the instance socket from another user.");
            ::close(fd);
            continue;
        }
        auto& peer = peers_[fd];
        peer.fd = fd;
        peer.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(peer.notifier.get(), &QSocketNotifier::activated, this,
                [this, fd] { readPeer(fd); });
    }
}

void QtApplication::readPeer(int fd) {
    Peer& peer = peers_.at(fd);
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EAGAIN) {
        return;
    }
    if (n > 0) {
        peer.received.append(chunk, static_cast<std::size_t>(n));
    }
    const InstanceMessage message = InstanceMessage::read(peer.received, n <= 0);
    if (!message.complete) {
        return;
    }
    peer.notifier->setEnabled(false);
    peer.notifier.release()->deleteLater();
    peers_.erase(fd);
    ::close(fd);
    if (message.request) {
        perform(*message.request);
    }
}

}  // namespace velmora::desktop

#include "QtApplication.moc"
