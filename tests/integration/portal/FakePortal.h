#pragma once

#include <QDBusConnection>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QThread>
#include <QVariantMap>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

// A desktop portal on the session bus, serving GlobalShortcuts and RemoteDesktop from a thread of
// its own, so the code under test may make blocking calls to it. Each call is answered with the
// scripted Response code; what the program asked for is recorded. Its keyboard joins a desktop's
// one keyboard state, where the user may still hold keys: the record says which chords the
// focused application received.
class FakePortal {
  public:
    struct Script {
        uint createCode = 0;  // CreateSession, both interfaces
        uint bindCode = 0;
        uint startCode = 0;
        uint version = 1;  // RemoteDesktop's
        QString triggerDescription = QStringLiteral("Ctrl+Shift+P");
        QString restoreToken;  // handed out by Start from version 2 on
        // As mutter: a key release this keyboard did not press changes nothing (else, as KWin, it
        // releases the key whoever holds it), and the keys of its first 0.1 s are lost.
        bool ignoresOthersKeys = false;
        bool refusesAllKeys = false;
    };
    struct Record {
        QString preferredTrigger;
        QVariantMap selectOptions;  // of the last SelectDevices
        QStringList typed;          // each key but a modifier, with the modifiers held: "Ctrl+C"
        qsizetype keysDown = 0;     // now, the user's included
        QStringList openSessions;
    };

    explicit FakePortal(Script script);
    ~FakePortal();

    Record record();
    // The user holds Ctrl+Shift from now on, and lets go `letGoAfter` later.
    void userHolds(std::chrono::milliseconds letGoAfter);

  private:
    class Object;
    friend class Object;

    void key(int code, bool down);
    void count(int code, bool down);

    std::mutex mutex_;
    Script script_;
    QMap<int, int> down_;  // how many keyboards hold each key: the program's and the user's
    QList<int> ours_;      // the keys the program's keyboard holds
    std::optional<std::chrono::steady_clock::time_point> userLetsGo_;
    std::optional<std::chrono::steady_clock::time_point> firstKey_;
    Record record_;
    QThread thread_;
    std::unique_ptr<Object> object_;
    QDBusConnection bus_;
};
