#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include "DesktopTestSupport.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/QtUrlEvents.h"

namespace velmora::desktop {
namespace {

using namespace testing;

const QString kProgram = QStringLiteral(VELMORA_PROGRAM);
const QString kNoTrayLine =
    QStringLiteral("No system tray available; the Velmora icon appears when a tray starts.");
const QString kLaunchedLine = QStringLiteral(
    "App launched. Selected Model: gemini-2.5-flash-preview-05-20. Authenticated: false, Token "
    "available: false");

// The velmora program with its own configuration and runtime directories.
class VelmoraProcess {
  public:
    VelmoraProcess() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Each run starts signed out: a token stored by an earlier run stays in the session's
        // keyring.
        QProcess::execute(QStringLiteral("secret-tool"),
                          {QStringLiteral("clear"), QStringLiteral("service"),
                           QStringLiteral("com.mendwell.authtoken"), QStringLiteral("account"),
                           QStringLiteral("sessionToken")});
    }
    ~VelmoraProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    void start(const QStringList& arguments = {}) { process.start(kProgram, arguments); }

    bool waitForLine(const QString& line) {
        return waitUntil([&] {
                   output += QString::fromUtf8(process.readAllStandardOutput());
                   return lines().contains(line) || process.state() == QProcess::NotRunning;
               }) &&
               lines().contains(line);
    }

    QStringList lines() const { return output.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

    // SIGTERM; answers the exit code, -1 when it crashed or hung.
    int terminate() {
        process.terminate();
        if (!waitUntil([&] { return process.state() == QProcess::NotRunning; })) {
            return -1;
        }
        output += QString::fromUtf8(process.readAllStandardOutput());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QTemporaryDir config;
    QTemporaryDir runtime;
    QProcess process;
    QString output;
};

// A second `velmora URL` hands the URL to the running instance and exits 0; a second plain
// `velmora` exits 0 and hands nothing over. The socket is for this user only.
TEST(VelmoraProgram, SecondInstanceHandsItsUrlToTheFirst) {
    QTemporaryDir runtime;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    QtMainQueue queue;
    QtUrlEvents events(queue);
    ASSERT_TRUE(events.listen());
    std::vector<std::optional<std::string>> received;
    events.setHandler([&](const std::optional<std::string>& url) { received.push_back(url); });
    const QFileInfo socket(QtUrlEvents::socketPath());
    EXPECT_TRUE(socket.exists());
    EXPECT_EQ(socket.permissions() &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              QFile::Permissions());

    const std::string url = "velmora://auth/callback?token=abc%2B123";
    for (const QStringList& arguments : {QStringList{QString::fromStdString(url)}, QStringList{}}) {
        QProcess second;
        second.start(kProgram, arguments);
        ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
    }
    ASSERT_TRUE(waitUntil([&] { return !received.empty() && queue.isIdle(); }));
    EXPECT_EQ(received, (std::vector<std::optional<std::string>>{url}));

    qputenv("XDG_RUNTIME_DIR", savedRuntime);
}

// A settings file that is not text is set aside with one log line; the program starts from the
// defaults, and SIGTERM still runs the shutdown and exits 0.
TEST(VelmoraProgram, CorruptSettingsFileStartsFromDefaults) {
    VelmoraProcess velmora;
    const QString dir = velmora.config.path() + QStringLiteral("/velmora");
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile file(dir + QStringLiteral("/velmora.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("[General]\nselectedWritingStyle=concise\n\xff\xfe\x00\x01garbage", 48));
    file.close();

    // Also the first start with a URL: it launches and keeps running.
    velmora.start({QStringLiteral("velmora://auth/callback?token=first")});
    ASSERT_TRUE(velmora.waitForLine(kLaunchedLine)) << velmora.output.toStdString();
    EXPECT_EQ(velmora.process.state(), QProcess::Running);
    EXPECT_EQ(velmora.lines().filter(QStringLiteral("Settings file could not be read")).size(), 1);
    EXPECT_TRUE(velmora.lines().contains(QStringLiteral(
        "Settings loaded: Model=gemini-2.5-flash-preview-05-20, CustomInstr Set=false, "
        "WritingStyle=custom, Authenticated=false")));
    EXPECT_EQ(velmora.terminate(), 0);
    EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/velmora.conf.corrupt")));
}

bool trayIconEmbedded() {
    // Qt maps its tray icon window only once a tray host has embedded it.
    return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--classname"), QStringLiteral("velmora")})
               .exitCode == 0;
}

class TrayHost {
  public:
    void start() {
        process.start(
            QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
             QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
             QStringLiteral("--height"), QStringLiteral("24")});
    }
    ~TrayHost() {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished();
        }
    }
    QProcess process;
};

// No tray: one line, and the program keeps running; a tray that starts later gets the icon.
TEST(VelmoraProgram, RunsWithoutTrayAndShowsIconWhenOneAppears) {
    VelmoraProcess velmora;
    velmora.start();
    ASSERT_TRUE(velmora.waitForLine(kLaunchedLine)) << velmora.output.toStdString();
    EXPECT_EQ(velmora.lines().count(kNoTrayLine), 1);
    EXPECT_EQ(velmora.process.state(), QProcess::Running);
    EXPECT_FALSE(trayIconEmbedded());

    TrayHost tray;
    tray.start();
    EXPECT_TRUE(waitUntil(trayIconEmbedded));
    EXPECT_EQ(velmora.terminate(), 0);
}

TEST(VelmoraProgram, ShowsIconInARunningTray) {
    TrayHost tray;
    tray.start();
    ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));

    VelmoraProcess velmora;
    velmora.start();
    ASSERT_TRUE(velmora.waitForLine(kLaunchedLine)) << velmora.output.toStdString();
    EXPECT_FALSE(velmora.lines().contains(kNoTrayLine));
    EXPECT_TRUE(waitUntil(trayIconEmbedded));
    EXPECT_EQ(velmora.terminate(), 0);
}

TEST(VelmoraProgram, HelpAndVersionPrintAndExit) {
    const CommandResult version = run(kProgram, {QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, QStringLiteral("velmora " VELMORA_VERSION));
    const CommandResult help = run(kProgram, {QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.startsWith(QStringLiteral("Usage: velmora")));
}

}  // namespace
}  // namespace velmora::desktop
