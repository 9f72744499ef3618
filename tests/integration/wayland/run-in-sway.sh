#!/usr/bin/env bash
# Runs a command in a sway session of its own: a headless sway and a private session bus, as an
# unprivileged user made for the purpose under root (desktop-user.sh). Exits 77 (a skip to ctest)
# only when sway cannot start here.
set -euo pipefail

command -v sway >/dev/null || { echo "sway is not installed" >&2; exit 77; }
source "$(dirname "$0")/desktop-user.sh"
desktop_session velmora-sway "$0" "$@"

printf 'xwayland disable\n' >"$HOME/sway.conf"
WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$HOME/sway.conf" \
  >"$HOME/sway.log" 2>&1 &
sway_pid=$!
trap 'kill $sway_pid 2>/dev/null; wait $sway_pid 2>/dev/null' EXIT
socket=
for _ in $(seq 1 200); do
  socket=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -type s -name 'wayland-*' -print -quit)
  [[ -n $socket ]] && break
  kill -0 "$sway_pid" 2>/dev/null || break
  sleep 0.05
done
if [[ -z $socket ]]; then
  echo "sway did not start:" >&2
  cat "$HOME/sway.log" >&2
  exit 77
fi

export WAYLAND_DISPLAY=${socket##*/}
SWAYSOCK=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -type s -name 'sway-ipc.*.sock' -print -quit)
export SWAYSOCK
set +e
"$@"
