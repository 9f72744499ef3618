#pragma once

#include <QDBusConnection>
#include <QList>
#include <QPair>
#include <QString>
#include <QThread>
#include <QVariantMap>
#include <memory>
#include <mutex>

// A desktop portal on the session bus, serving GlobalShortcuts and RemoteDesktop from a thread of
// its own, so the code under test may make blocking calls to it. Each call is answered with the
// scripted Response code; what the program asked for is recorded.
class FakePortal {
  public:
    struct Script {
        uint createCode = 0;  // CreateSession, both interfaces
        uint bindCode = 0;
        uint startCode = 0;
        uint version = 1;  // RemoteDesktop's
        QString triggerDescription = QStringLiteral("Ctrl+Shift+P");
        QString restoreToken;  // handed out by Start from version 2 on
    };
    struct Record {
        QString preferredTrigger;
        QVariantMap selectOptions;     // of the last SelectDevices
        QList<QPair<int, uint>> keys;  // keycode, pressed
        QStringList shortcutSessions;  // in order of creation
        QStringList openSessions;
    };

    explicit FakePortal(Script script);
    ~FakePortal();

    Record record();
    // The user presses the bound shortcut and holds it while the keyboard repeats `repeats` times.
    // Like KWin, the portal does not tell the very first shortcut session it saw.
    void press(int repeats);

  private:
    class Object;
    friend class Object;

    std::mutex mutex_;
    Script script_;
    Record record_;
    QThread thread_;
    std::unique_ptr<Object> object_;
    QDBusConnection bus_;
};
