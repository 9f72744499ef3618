#!/usr/bin/env bash
# Runs a command in a KDE Plasma 5.27 Wayland session of its own: a virtual KWin and the desktop
# portals, which its private session bus starts on demand, as an unprivileged user made for the
# purpose under root (desktop-user.sh). Exits 77 (a skip to ctest) only when KWin cannot start.
set -euo pipefail

command -v kwin_wayland >/dev/null || { echo "kwin_wayland is not installed" >&2; exit 77; }
source "$(dirname "$0")/../wayland/desktop-user.sh"
desktop_session velmora-kwin "$0" "$@"

# The installed binary carries a file capability that a container refuses to run; a copy runs,
# and it must keep its name, or KWin's own Qt platform plugin declines to load.
mkdir -p "$HOME/bin"
cp "$(command -v kwin_wayland)" "$HOME/bin/kwin_wayland"
export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland KWIN_COMPOSE=Q
QT_LOGGING_RULES="kwin_scripting=true" "$HOME/bin/kwin_wayland" --virtual --no-lockscreen --socket velmora-kwin >"$HOME/kwin.log" 2>&1 &
kwin=$!
trap 'kill $kwin 2>/dev/null; wait $kwin 2>/dev/null' EXIT
for _ in $(seq 1 200); do
  [[ -S $XDG_RUNTIME_DIR/velmora-kwin ]] && break
  kill -0 $kwin 2>/dev/null || break
  sleep 0.05
done
if [[ ! -S $XDG_RUNTIME_DIR/velmora-kwin ]]; then
  echo "KWin did not start:" >&2
  cat "$HOME/kwin.log" >&2
  exit 77
fi
export WAYLAND_DISPLAY=velmora-kwin
# The portals the bus starts must find the session the compositor belongs to.
dbus-update-activation-environment --all
set +e
"$@"
