#!/usr/bin/env bash
# Runs a command as on a desktop after login, but private to it: its own Xvfb display (on a free
# display number), its own D-Bus session with an unlocked keyring, and private HOME and XDG
# directories; cleans everything up afterwards.
# Usage: run-in-session.sh [--no-display] [--no-secrets] COMMAND [ARGS...]
#   --no-display  no X server (a keyring's unlock prompt then has nowhere to appear)
#   --no-secrets  a session bus that offers no Secret Service at all
set -euo pipefail

display=yes secrets=yes
while [[ ${1:-} == --no-* ]]; do
  case $1 in
    --no-display) display=no ;;
    --no-secrets) secrets=no ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-desktop.XXXXXX")
mkdir -p "$work/config" "$work/data" "$work/cache" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
xvfb_pid=

cleanup() {
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

unset DISPLAY DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
if [[ $display == yes ]]; then
  # -displayfd lets the server pick a free display number and tell us which.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 1 600); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.05
  done
  [[ -s $work/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb
fi
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
export XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
# Keep going after the command fails so the cleanup runs and its status is passed on.
set +e
if [[ $secrets == no ]]; then
  # No service directories: nothing on this bus can be activated.
  cat >"$work/session.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=$work</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  dbus-run-session --config-file="$work/session.conf" -- "$@"
  exit $?
fi
# An unlocked keyring, as on a desktop after login: without one, the first secret the program
# stores would open the keyring's password prompt on the test display and wait for an answer.
dbus-run-session -- bash -c '
  eval "$(printf pw | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
  "$@"
  status=$?
  [[ -n "${GNOME_KEYRING_PID:-}" ]] && kill "$GNOME_KEYRING_PID" 2>/dev/null
  exit $status
' session "$@"
