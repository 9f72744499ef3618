#include "platform/linux/QtApplication.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
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
#include "platform/linux/SingleInstance.h"

namespace velmora::desktop {
namespace {

// More than any URL we expect; a peer sending more is cut off.
constexpr std::size_t kMaxMessageBytes = 64 * 1024;

// How long an opener may take to fail; one still running then is showing the page.
constexpr std::chrono::seconds kOpenerGrace{10};

}  // namespace

QtApplication::QtApplication(platform::MainQueue& queue) : queue_(queue) {}

QtApplication::~QtApplication() {
    for (auto& [fd, peer] : peers_) {
        ::close(fd);
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

void QtApplication::setTriggerHandler(TriggerHandler handler) {
    triggerHandler_ = std::move(handler);
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
    const std::size_t end = peer.received.find('\n');
    if (end == std::string::npos && n > 0 && peer.received.size() <= kMaxMessageBytes) {
        return;
    }
    // A whole line, the end of the peer, or more than any URL: the peer is done with.
    const bool whole = end != std::string::npos && end <= kMaxMessageBytes;
    const QByteArray line = QByteArray::fromStdString(peer.received.substr(0, end)).trimmed();
    peer.notifier->setEnabled(false);
    peer.notifier.release()->deleteLater();
    peers_.erase(fd);
    ::close(fd);
    if (whole) {
        handleLine(line);
    }
}

void QtApplication::handleLine(const QByteArray& line) {
    if (line == kTriggerLine) {
        if (triggerHandler_) {
            triggerHandler_();
        }
        return;
    }
    // A second plain `velmora` carries no URL: nothing to hand over.
    if (!line.isEmpty()) {
        deliverUrl(line.toStdString());
    }
}

}  // namespace velmora::desktop
