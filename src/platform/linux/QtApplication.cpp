#include "platform/linux/QtApplication.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QUrl>
#include <cstring>

#include "base/Log.h"

namespace velmora::desktop {
namespace {

// More than any URL we expect; a peer sending more is cut off.
constexpr qint64 kMaxMessageBytes = 64 * 1024;

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
    if (server_) {
        server_->close();
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
    const QByteArray path = QFile::encodeName(socketPath());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(path.size()) >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool sent =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
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

bool QtApplication::listen() {
    const QString path = socketPath();
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        // A socket file left by an instance that died: nobody answers on it.
        QLocalServer::removeServer(path);
        if (!server_->listen(path)) {
            logLine("Could not listen for other Velmora instances: " +
                    server_->errorString().toStdString());
            return false;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, &QtApplication::acceptConnections);
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
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (socket->bytesAvailable() > kMaxMessageBytes) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine()) {
                return;
            }
            const QByteArray line = socket->readLine().trimmed();
            socket->disconnectFromServer();
            handleLine(line);
        });
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
