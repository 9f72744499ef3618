#include "platform/linux/QtApplication.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <optional>

#include "base/Log.h"

namespace velmora::desktop {
namespace {

// More than any URL we expect; a peer sending more is cut off.
constexpr std::size_t kMaxMessageBytes = 64 * 1024;

// The instance socket's address, or none for a path too long for one.
std::optional<sockaddr_un> addressFor(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(path.size()) >= sizeof(address.sun_path)) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return address;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

QtApplication::QtApplication(platform::MainQueue& queue) : queue_(queue) {}

QtApplication::~QtApplication() {
    for (auto& [fd, peer] : peers_) {
        ::close(fd);
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
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

void QtApplication::openURL(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid()) {
        logLine("Could not open " + url);
        return;
    }
    // The browser would otherwise write its own diagnostics into Velmora's output.
    QProcess opener;
    opener.setProgram(QStringLiteral("xdg-open"));
    opener.setArguments({parsed.toString(QUrl::FullyEncoded)});
    opener.setStandardOutputFile(QProcess::nullDevice());
    opener.setStandardErrorFile(QProcess::nullDevice());
    if (!opener.startDetached() && !QDesktopServices::openUrl(parsed)) {
        logLine("Could not open " + url);
    }
}

void QtApplication::setUrlHandler(UrlHandler handler) {
    urlHandler_ = std::move(handler);
}

void QtApplication::setTriggerHandler(TriggerHandler handler) {
    triggerHandler_ = std::move(handler);
}

QString QtApplication::socketPath() {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists()) {
        dir = QDir::tempPath() + QStringLiteral("/velmora-") + QString::number(::getuid());
        QDir().mkpath(dir);
        ::chmod(QFile::encodeName(dir).constData(), 0700);
    }
    return dir + QStringLiteral("/velmora.socket");
}

bool QtApplication::sendToRunningInstance(const std::string& line) {
    const auto address = addressFor(QFile::encodeName(socketPath()));
    const int fd = address ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    if (fd < 0) {
        return false;
    }
    const bool sent =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) == 0 &&
        writeAll(fd, line + "\n");
    if (sent) {
        // Wait for the first instance to close its end, so the line is in before we exit.
        char byte = 0;
        ::shutdown(fd, SHUT_WR);
        while (::read(fd, &byte, 1) > 0) {
        }
    }
    ::close(fd);
    return sent;
}

// A plain socket rather than the toolkit's network module, which the idle program would otherwise
// load for this alone.
bool QtApplication::listen() {
    const QByteArray path = QFile::encodeName(socketPath());
    const auto address = addressFor(path);
    listenFd_ = address ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0) : -1;
    if (listenFd_ < 0) {
        return false;
    }
    const auto* where = reinterpret_cast<const sockaddr*>(&*address);
    if (::bind(listenFd_, where, sizeof(*address)) != 0) {
        // A socket file left by an instance that died: nobody answers on it.
        ::unlink(path.constData());
        if (::bind(listenFd_, where, sizeof(*address)) != 0) {
            logLine("Could not listen for other Velmora instances: " +
                    std::string(std::strerror(errno)));
            ::close(listenFd_);
            listenFd_ = -1;
            return false;
        }
    }
    ::chmod(path.constData(), 0600);
    ::listen(listenFd_, 8);
    listenNotifier_ = std::make_unique<QSocketNotifier>(listenFd_, QSocketNotifier::Read);
    connect(listenNotifier_.get(), &QSocketNotifier::activated, this,
            &QtApplication::acceptConnections);
    return true;
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
