#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QSettings>
#include <thread>

#include "FakePortal.h"
#include "platform/linux/portal/PortalGlobalShortcuts.h"
#include "platform/linux/portal/PortalKeystrokes.h"

namespace {

using velmora::desktop::PortalGlobalShortcuts;
using velmora::desktop::PortalKeystrokes;
using velmora::platform::BindResult;
using velmora::platform::BindStatus;
using velmora::platform::Keystroke;
using velmora::platform::KeystrokeResult;
using velmora::platform::Modifier;
namespace keys = velmora::platform::keys;

const velmora::platform::Shortcut kCtrlShiftP{keys::P, Modifier::Control | Modifier::Shift};

// Serves events until `done` holds; the deadline only stops a broken test from hanging.
template <typename Done>
bool serveUntil(Done done) {
    const QDeadlineTimer deadline(10000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

// A round trip through the fake portal: what either side sent before it has been handled.
void drainBus() {
    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop",
                                       "/org/freedesktop/portal/desktop",
                                       "org.freedesktop.DBus.Properties", "Get")
        << "org.freedesktop.portal.RemoteDesktop"
        << "version");
    QCoreApplication::processEvents();
}

struct Binding {
    std::optional<BindResult> result;
    std::unique_ptr<velmora::platform::ShortcutBinding> handle;

    Binding(velmora::platform::GlobalShortcuts& shortcuts) {
        handle = shortcuts.bind(
            kCtrlShiftP, [] {}, [this](const BindResult& r) { result = r; });
        serveUntil([this] { return result.has_value(); });
    }
};

// One press per held press, through KWin's repeated Activated, is tested on KWin itself
// (tests/integration/wayland/run-rewrite.sh).
TEST(PortalGlobalShortcuts, BindsWithTheSystemsDescriptionAndUnbindsWhenDropped) {
    FakePortal portal({});
    PortalGlobalShortcuts shortcuts("/usr/bin/velmora");
    Binding binding(shortcuts);
    ASSERT_TRUE(binding.result);
    EXPECT_EQ(binding.result->status, BindStatus::Bound);
    EXPECT_EQ(binding.result->systemDescription, "Ctrl+Shift+P");
    EXPECT_EQ(portal.record().preferredTrigger, "CTRL+SHIFT+p");

    binding.handle.reset();
    drainBus();
    EXPECT_TRUE(portal.record().openSessions.isEmpty());
}

TEST(PortalGlobalShortcuts, IsUnavailableWithAMessageWhenThePortalFailsOrIsMissing) {
    FakePortal::Script cancelled, failed, failingSession;
    cancelled.bindCode = 1;
    failed.bindCode = 2;
    failingSession.createCode = 2;
    for (const auto& script : {cancelled, failed, failingSession}) {
        FakePortal portal(script);
        PortalGlobalShortcuts shortcuts("/usr/bin/velmora");
        Binding binding(shortcuts);
        ASSERT_TRUE(binding.result);
        EXPECT_EQ(binding.result->status, BindStatus::Unavailable);
        EXPECT_NE(binding.result->message.find("/usr/bin/velmora --trigger"), std::string::npos);
        drainBus();
        EXPECT_TRUE(portal.record().openSessions.isEmpty());
    }
    PortalGlobalShortcuts withoutPortal("/opt/My Apps/velmora");
    Binding binding(withoutPortal);
    ASSERT_TRUE(binding.result);
    EXPECT_EQ(binding.result->status, BindStatus::Unavailable);
    EXPECT_NE(binding.result->message.find("'/opt/My Apps/velmora' --trigger"), std::string::npos);
}

// The user still holds Ctrl+Shift from the shortcut, letting go of it as people do on a desktop
// that ignores another keyboard's release of them (mutter), and holding it on one that does not
// (KWin).
TEST(PortalKeystrokes, TypesExactlyCtrlCAndCtrlVWhateverTheUserStillHolds) {
    using std::chrono::milliseconds;
    for (const auto& [ignoresOthersKeys, letsGo] :
         {std::pair{true, milliseconds(100)}, std::pair{false, milliseconds(60000)}}) {
        FakePortal::Script script;
        script.ignoresOthersKeys = ignoresOthersKeys;
        FakePortal portal(script);
        PortalKeystrokes keystrokes;
        EXPECT_FALSE(keystrokes.permission(false).available);
        EXPECT_FALSE(keystrokes.permission(false).explanation.empty());
        ASSERT_TRUE(keystrokes.permission(true).available);
        EXPECT_TRUE(keystrokes.permission(false).available);
        // Once the desktop's new keyboard is set up, the user presses the shortcut.
        std::this_thread::sleep_for(milliseconds(250));
        portal.userHolds(letsGo);

        EXPECT_EQ(keystrokes.send(Keystroke::Copy), KeystrokeResult::sent());
        EXPECT_EQ(keystrokes.send(Keystroke::Paste), KeystrokeResult::sent());
        EXPECT_EQ(portal.record().typed, QStringList({"Ctrl+C", "Ctrl+V"}));
        EXPECT_EQ(portal.record().keysDown, 0);
        EXPECT_EQ(portal.record().selectOptions.value("types").toUInt(), 1U);
    }
    FakePortal::Script refusing;
    refusing.refusesAllKeys = true;
    FakePortal portal(refusing);
    PortalKeystrokes keystrokes;
    ASSERT_TRUE(keystrokes.permission(true).available);
    EXPECT_EQ(keystrokes.send(Keystroke::Copy), KeystrokeResult::failed("Invalid key event"));
}

TEST(PortalKeystrokes, ExplainsAndSendsNothingWhenRefusedOrMissing) {
    FakePortal::Script declined, failed;
    declined.startCode = 1;
    failed.createCode = 2;
    for (const auto& script : {declined, failed}) {
        FakePortal portal(script);
        PortalKeystrokes keystrokes;
        const auto permission = keystrokes.permission(true);
        EXPECT_FALSE(permission.available);
        EXPECT_FALSE(permission.explanation.empty());
        keystrokes.send(Keystroke::Paste);
        EXPECT_TRUE(portal.record().typed.isEmpty());
        drainBus();
        EXPECT_TRUE(portal.record().openSessions.isEmpty());
    }
    PortalKeystrokes withoutPortal;
    EXPECT_FALSE(withoutPortal.permission(true).available);
}

TEST(PortalKeystrokes, KeepsTheRestoreTokenWhereThePortalTakesIt) {
    QSettings settings("velmora", "velmora");
    settings.setValue("RemoteDesktopRestoreToken", "stored");
    FakePortal::Script script;
    script.version = 2;
    script.restoreToken = "first";
    {
        FakePortal portal(script);
        ASSERT_TRUE(PortalKeystrokes().permission(true).available);
        EXPECT_EQ(portal.record().selectOptions.value("restore_token").toString(), "stored");
        EXPECT_EQ(portal.record().selectOptions.value("persist_mode").toUInt(), 2U);
        ASSERT_TRUE(PortalKeystrokes().permission(true).available);
        EXPECT_EQ(portal.record().selectOptions.value("restore_token").toString(), "first");
    }
    FakePortal oldPortal({});
    ASSERT_TRUE(PortalKeystrokes().permission(true).available);
    EXPECT_FALSE(oldPortal.record().selectOptions.contains("restore_token"));
    EXPECT_FALSE(oldPortal.record().selectOptions.contains("persist_mode"));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
