#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <thread>

namespace velmora::desktop::testing {

// Generous: the CI machine is small and shared.
inline constexpr int kPatienceMs = 30000;

// Serves events until `done` holds or the patience runs out; answers `done()`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
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

// Runs a short command to its end. On the main thread events are served meanwhile: the command
// may ask us for the clipboard.
inline CommandResult run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended = QThread::currentThread() == qApp->thread()
                           ? waitUntil([&] { return process.state() == QProcess::NotRunning; })
                           : process.waitForFinished(kPatienceMs);
    if (!ended || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAll()).trimmed()};
}

inline bool xdotool(const QStringList& arguments) {
    return run(QStringLiteral("xdotool"), arguments).exitCode == 0;
}

// The first mapped window whose name matches `pattern`, waiting for it to appear.
inline QString waitForWindow(const QString& pattern) {
    const CommandResult found =
        run(QStringLiteral("xdotool"), {"search", "--sync", "--onlyvisible", "--name", pattern});
    return found.exitCode == 0 ? found.output.section(QLatin1Char('\n'), 0, 0) : QString();
}

// Gives the window the keyboard focus (there is no window manager) and presses keys into it.
inline bool pressKeys(const QString& windowId, const QStringList& keys) {
    return xdotool({"windowfocus", "--sync", windowId}) &&
           xdotool(QStringList{"key", "--delay", "50"} + keys);
}

// Runs `steps` on a thread of its own while this thread serves events (a modal dialog may be up).
// Failed steps close the modal dialogs they left open, so the test still ends.
inline bool drive(const std::function<bool()>& steps) {
    std::atomic<int> outcome{-1};
    std::thread driver([&] {
        const bool ok = steps();
        if (!ok) {
            QMetaObject::invokeMethod(qApp, [] {
                while (QWidget* modal = QApplication::activeModalWidget()) {
                    modal->close();
                }
            });
        }
        outcome = ok ? 1 : 0;
    });
    waitUntil([&] { return outcome != -1; }, 3 * kPatienceMs);
    driver.join();
    return outcome == 1;
}

}  // namespace velmora::desktop::testing
