#!/usr/bin/env bash
# Runs a command against a headless sway of its own. Sway refuses to run as root, so under root it
# runs as an unprivileged user made for the purpose; the command stays root and reaches sway's
# socket by its full path. Exits 77 (a skip to ctest) only when sway cannot start here.
set -euo pipefail

command -v sway >/dev/null || { echo "sway is not installed" >&2; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-sway.XXXXXX")
chmod 755 "$work"
mkdir -m 700 "$work/sway" "$work/runtime"
mkdir "$work/home"
sway_pid=
cleanup() {
  if [[ -n $sway_pid ]]; then
    kill "$sway_pid" 2>/dev/null || true
    wait "$sway_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

as_user=()
if [[ $(id -u) -eq 0 ]]; then
  user=velmora-sway
  id -u "$user" &>/dev/null || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" ||
    id -u "$user" >/dev/null
  chown "$user:" "$work/sway"
  as_user=(setpriv --reuid="$user" --regid="$user" --init-groups --)
fi
printf 'xwayland disable\n' >"$work/sway.conf"
env -i PATH="$PATH" HOME="$work/sway" XDG_RUNTIME_DIR="$work/sway" WLR_BACKENDS=headless \
  WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 "${as_user[@]}" sway -c "$work/sway.conf" \
  >"$work/sway.log" 2>&1 &
sway_pid=$!
socket=
for _ in $(seq 1 200); do
  socket=$(find "$work/sway" -maxdepth 1 -type s -name 'wayland-*' -print -quit)
  [[ -n $socket ]] && break
  kill -0 "$sway_pid" 2>/dev/null || break
  sleep 0.05
done
if [[ -z $socket ]]; then
  echo "sway did not start:" >&2
  cat "$work/sway.log" >&2
  exit 77
fi

unset DISPLAY
export WAYLAND_DISPLAY=$socket XDG_RUNTIME_DIR="$work/runtime" HOME="$work/home"
set +e
"$@"
exit $?
