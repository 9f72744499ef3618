#!/usr/bin/env bash
# Checks the portal shortcut and keystrokes end to end on a real KWin 5.27 with the KDE portal:
# installs them (about 160 packages, root needed), starts a virtual KWin on a private session bus
# and runs a small program that binds Ctrl+C as Velmora's shortcut through PortalGlobalShortcuts,
# then presses Ctrl+C twice through PortalKeystrokes (the RemoteDesktop portal) and once more,
# held for 2 s, through a remote keyboard of its own. It passes when the shortcut was bound and
# the program saw three presses (KWin repeats Activated while keys are held). Not part of CTest:
# it changes the machine.
# Usage: bench/kwin-portal.sh [BUILD_DIR]    (default: build-portal in the source tree)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-portal}

export DEBIAN_FRONTEND=noninteractive
# The KDE portal is a Qt 5 program: it needs Qt 5's Wayland platform plugin (qtwayland5).
packages=(kwin-wayland xdg-desktop-portal xdg-desktop-portal-kde qtwayland5)
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
    break
  fi
done

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DVELMORA_BUILD_SERVICE=OFF >/dev/null
fi
cmake --build "$build" --target velmora_portal velmora_linux_shared velmora_core -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-kwin.XXXXXX")
# The document portal may still be letting go of its mount in the runtime directory.
trap 'rm -rf "$work" 2>/dev/null || { sleep 1; rm -rf "$work"; }' EXIT
mkdir -p "$work/home" "$work/runtime" "$work/bin"
chmod 700 "$work/runtime"

cat >"$work/check.cpp" <<'CPP'
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>
#include <cstdio>

#include "platform/linux/portal/PortalGlobalShortcuts.h"
#include "platform/linux/portal/PortalKeystrokes.h"
#include "platform/linux/portal/PortalRequest.h"

using namespace velmora;
using desktop::PortalRequest;
using desktop::PortalResponse;

const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");

// A second remote keyboard of our own, to hold the keys down, which Keystrokes never does.
struct HoldingKeyboard {
    QString session;

    void start(QObject* context, std::function<void()> started) {
        const QVariantMap options{{"session_handle_token", "velmora_hold"}};
        PortalRequest::call(context, kRemoteDesktop, "CreateSession", {options},
                            [=, this](const PortalResponse& created) {
            session = desktop::pathResult(created.results.value("session_handle"));
            const auto path = QVariant::fromValue(QDBusObjectPath(session));
            PortalRequest::call(context, kRemoteDesktop, "SelectDevices",
                                {path, QVariantMap{{"types", 1U}}}, [=](const PortalResponse&) {
                PortalRequest::call(context, kRemoteDesktop, "Start", {path, QString(), QVariantMap()},
                                    [=](const PortalResponse&) { started(); });
            });
        });
    }
    void key(int code, bool down) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", kRemoteDesktop,
            "NotifyKeyboardKeycode");
        message << QVariant::fromValue(QDBusObjectPath(session)) << QVariantMap() << code
                << uint{down ? 1U : 0U};
        QDBusConnection::sessionBus().call(message);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    desktop::PortalKeystrokes keystrokes;
    const platform::Capability keyboard = keystrokes.permission(true);
    std::printf("keystrokes: %s %s\n", keyboard.available ? "available" : "unavailable",
                keyboard.explanation.c_str());
    desktop::PortalGlobalShortcuts shortcuts;
    HoldingKeyboard holding;
    int presses = 0;
    const platform::Shortcut ctrlC{platform::keys::C, platform::Modifier::Control};
    auto binding = shortcuts.bind(
        ctrlC, [&] { std::printf("pressed (%d)\n", ++presses); },
        [&](const platform::BindResult& result) {
            std::printf("bind: %s, system description \"%s\"\n%s\n",
                        result.status == platform::BindStatus::Bound ? "bound" : "not bound",
                        result.systemDescription.value_or("").c_str(), result.message.c_str());
            if (result.status != platform::BindStatus::Bound || !keyboard.available) {
                app.exit(1);
                return;
            }
            QTimer::singleShot(500, &app, [&] { keystrokes.send(platform::Keystroke::Copy); });
            QTimer::singleShot(1500, &app, [&] { keystrokes.send(platform::Keystroke::Copy); });
            QTimer::singleShot(2500, &app, [&] {
                holding.start(&app, [&] {
                    std::printf("holding Ctrl+C for 2 s\n");
                    holding.key(platform::keys::LeftControl.position, true);
                    holding.key(platform::keys::C.position, true);
                    QTimer::singleShot(2000, &app, [&] {
                        holding.key(platform::keys::C.position, false);
                        holding.key(platform::keys::LeftControl.position, false);
                    });
                    QTimer::singleShot(3000, &app, [&] { app.exit(presses == 3 ? 0 : 1); });
                });
            });
        });
    QTimer::singleShot(30000, &app, [&] {
        std::printf("no answer from the portal\n");
        app.exit(1);
    });
    return app.exec();
}
CPP
portal_lib=$(find "$build" -name libvelmora_portal.a | head -n1)
shared_lib=$(find "$build" -name libvelmora_linux_shared.a | head -n1)
core_lib=$(find "$build" -name libvelmora_core.a | head -n1)
# shellcheck disable=SC2046
g++ -std=c++20 -fPIC -I"$root/src" $(pkg-config --cflags Qt6Core Qt6DBus) "$work/check.cpp" \
  "$portal_lib" "$shared_lib" "$core_lib" $(pkg-config --libs Qt6Core Qt6DBus xkbcommon) -pthread \
  -o "$work/check"

# The installed binary carries a file capability that a container refuses to run; a copy runs,
# and it must keep its name, or KWin's own Qt platform plugin declines to load.
cp "$(command -v kwin_wayland)" "$work/bin/kwin_wayland"

export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/home/.config
export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland KWIN_COMPOSE=Q
unset DISPLAY WAYLAND_DISPLAY
# shellcheck disable=SC2016
dbus-run-session -- bash -c '
  "$1/bin/kwin_wayland" --virtual --socket velmora-kwin >"$1/kwin.log" 2>&1 &
  kwin=$!
  for _ in $(seq 1 100); do
    [[ -S $XDG_RUNTIME_DIR/velmora-kwin ]] && break
    sleep 0.1
  done
  export WAYLAND_DISPLAY=velmora-kwin
  # The portals are started by the bus, and need the session the compositor belongs to.
  dbus-update-activation-environment --all
  "$1/check"
  status=$?
  kill "$kwin"
  wait "$kwin" 2>/dev/null
  exit $status
' check "$work" && echo "kwin-portal: passed" || { echo "kwin-portal: FAILED"; exit 1; }
