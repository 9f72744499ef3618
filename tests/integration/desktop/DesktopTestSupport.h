#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWindow>
#include <functional>

namespace velmora::desktop::testing {

// Generous: the CI machine is small and shared.
inline constexpr int kPatienceMs = 30000;

// Runs the event loop until `done` holds or the patience runs out; answers `done()`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        // Serve events for a short while, then look again.
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

struct CommandResult {
    int exitCode = -1;
    QString output;
};

// Runs a short command to its end (usable from any thread).
inline CommandResult run(const QString& program, const QStringList& arguments,
                         int timeoutMs = kPatienceMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {code, QString::fromUtf8(process.readAll()).trimmed()};
}

inline CommandResult xdotool(const QStringList& arguments) {
    return run(QStringLiteral("xdotool"), arguments);
}

// The id of the first window whose name matches `pattern`, waiting for it to appear.
inline QString waitForWindow(const QString& pattern) {
    const CommandResult found =
        xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                 QStringLiteral("--onlyvisible"), QStringLiteral("--name"), pattern});
    return found.exitCode == 0 ? found.output.section(QLatin1Char('\n'), 0, 0) : QString();
}

inline bool windowExists(const QString& pattern) {
    return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--name"), pattern})
               .exitCode == 0;
}

// Gives the window the keyboard focus (there is no window manager) and presses keys into it.
inline bool pressKeys(const QString& windowId, const QStringList& keys) {
    if (xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId}).exitCode !=
        0) {
        return false;
    }
    QStringList arguments{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50")};
    arguments << keys;
    return xdotool(arguments).exitCode == 0;
}

}  // namespace velmora::desktop::testing
