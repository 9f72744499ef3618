#!/usr/bin/env bash
# Runs a command in a Wayland session of its own: a headless sway, or a virtual KWin 5.27 with the
# desktop portals, which the session bus starts on demand. Under root everything runs as an
# unprivileged user made for the purpose (compositors refuse root, and a desktop's services run as
# its user), always with a private session bus (run-in-session.sh --no-display). Exits 77 (a skip
# to ctest) only when the compositor cannot start here.
# Usage: run-in-compositor.sh sway|kwin COMMAND [ARGS...]
set -euo pipefail

desktop=$1
shift
binary=$([[ $desktop == kwin ]] && echo kwin_wayland || echo sway)
command -v "$binary" >/dev/null || { echo "$binary is not installed" >&2; exit 77; }
session=$(dirname "$0")/../../support/run-in-session.sh
if [[ $(id -u) -eq 0 ]]; then
  user=velmora-$desktop
  id -u "$user" &>/dev/null || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" ||
    id -u "$user" >/dev/null
  # A checkout inside a folder closed to others (/root): the user may pass through while this runs.
  opened=()
  dir=$(realpath "$0")
  while dir=$(dirname "$dir") && [[ $dir != / ]]; do
    ((8#$(stat -c %a "$dir") & 1)) || { chmod o+x "$dir" && opened+=("$dir"); }
  done
  status=0
  setpriv --reuid="$user" --regid="$user" --init-groups -- env -u TMPDIR \
    bash "$session" --no-display bash "$0" "$desktop" "$@" || status=$?
  ((${#opened[@]} == 0)) || chmod o-x "${opened[@]}"
  exit $status
fi
[[ -n ${DBUS_SESSION_BUS_ADDRESS:-} ]] || exec bash "$session" --no-display bash "$0" "$desktop" "$@"

if [[ $desktop == sway ]]; then
  printf 'xwayland disable\n' >"$HOME/sway.conf"
  WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$HOME/sway.conf" \
    >"$HOME/sway.log" 2>&1 &
else
  # The installed binary carries a file capability that a container refuses to run; a copy runs,
  # and it must keep its name, or KWin's own Qt platform plugin declines to load.
  mkdir -p "$HOME/bin"
  cp "$(command -v kwin_wayland)" "$HOME/bin/"
  export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland KWIN_COMPOSE=Q
  QT_LOGGING_RULES="kwin_scripting=true" "$HOME/bin/kwin_wayland" --virtual --no-lockscreen \
    --socket wayland-velmora >"$HOME/kwin.log" 2>&1 &
fi
compositor=$!
trap 'kill $compositor 2>/dev/null; wait $compositor 2>/dev/null' EXIT
socket=
for _ in $(seq 1 200); do
  socket=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -type s -name 'wayland-*' -print -quit)
  [[ -n $socket ]] && break
  kill -0 $compositor 2>/dev/null || break
  sleep 0.05
done
if [[ -z $socket ]]; then
  echo "$desktop did not start:" >&2
  cat "$HOME/$desktop.log" >&2
  exit 77
fi
export WAYLAND_DISPLAY=${socket##*/}
if [[ $desktop == sway ]]; then
  SWAYSOCK=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -type s -name 'sway-ipc.*.sock' -print -quit)
  export SWAYSOCK
else
  # The portals the bus starts must find the session the compositor belongs to.
  dbus-update-activation-environment --all
fi
set +e
"$@"
