#!/usr/bin/env bash
# Runs a command in a GNOME 43 Wayland session of its own: a headless gnome-shell with XWayland,
# gsd-media-keys for custom shortcuts, and the desktop portals, which the session bus starts on
# demand, as an unprivileged user made for the purpose under root.
set -euo pipefail

command -v gnome-shell >/dev/null || { echo "gnome-shell is not installed" >&2; exit 77; }
session=$(dirname "$0")/../tests/support/run-in-session.sh
if [[ $(id -u) -eq 0 ]]; then
  id -u velmora-gnome &>/dev/null ||
    useradd --system --no-create-home --shell /usr/sbin/nologin velmora-gnome || true
  # A checkout inside a folder closed to others (/root): the user may pass through while this runs.
  opened=()
  dir=$(realpath "$0")
  while dir=$(dirname "$dir") && [[ $dir != / ]]; do
    ((8#$(stat -c %a "$dir") & 1)) || { chmod o+x "$dir" && opened+=("$dir"); }
  done
  status=0
  setpriv --reuid=velmora-gnome --regid=velmora-gnome --init-groups -- env -u TMPDIR \
    bash "$session" --no-display bash "$0" "$@" || status=$?
  ((${#opened[@]} == 0)) || chmod o-x "${opened[@]}"
  exit $status
fi
[[ -n ${DBUS_SESSION_BUS_ADDRESS:-} ]] || exec bash "$session" --no-display bash "$0" "$@"

# gnome-shell needs a system bus; a private one that lets this user in.
cat >"$HOME/system.conf" <<CONF
<busconfig>
  <type>system</type>
  <listen>unix:path=$HOME/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$HOME/system.conf" --fork --print-pid >"$HOME/system-bus.pid"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$HOME/system_bus_socket
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
gnome-shell --headless --wayland --virtual-monitor 1280x800 --wayland-display velmora-gnome \
  >"$HOME/gnome-shell.log" 2>&1 &
shell=$!
trap 'kill $(jobs -p) $(cat "$HOME/system-bus.pid") 2>/dev/null; wait 2>/dev/null' EXIT
shell_ready() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetNameOwner \
    string:org.gnome.Mutter.RemoteDesktop &>/dev/null
}
for _ in $(seq 1 300); do
  shell_ready && break
  kill -0 $shell 2>/dev/null || break
  sleep 0.1
done
if ! shell_ready; then
  echo "gnome-shell did not start:" >&2
  cat "$HOME/gnome-shell.log" >&2
  exit 77
fi
export WAYLAND_DISPLAY=velmora-gnome
DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\),.*/\1/p' "$HOME/gnome-shell.log")
XAUTHORITY=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -name '.mutter-Xwaylandauth.*' -print -quit)
export DISPLAY XAUTHORITY
dbus-update-activation-environment --all
/usr/libexec/gsd-media-keys >"$HOME/gsd-media-keys.log" 2>&1 &
set +e
"$@"
