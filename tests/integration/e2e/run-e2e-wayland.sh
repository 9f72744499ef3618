#!/usr/bin/env bash
# One rewrite in a Wayland session: a headless sway (run-in-sway.sh) with no X server, a
# Wayland-native Qt window holding a selected line, and Velmora on the Wayland platform plugin,
# its clipboard through data-control, its keystrokes through a virtual keyboard and its shortcut
# through `velmora --trigger`, the command a desktop binds to a key where no portal binds one.
# Runs inside run-in-session.sh --no-display (for the session bus and keyring), then run-in-sway.sh.
# Usage: run-e2e-wayland.sh VELMORA SERVICE TARGET_WINDOW CHAT_UPSTREAM MAKE_DEV_CERT
set -euo pipefail

velmora=$1 service=$2 target_window=$3 chat_upstream=$4 make_dev_cert=$5
work="$HOME/run"
mkdir -p "$work"
source "$(dirname "$0")/e2e-lib.sh"
trap 'status=$?; kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null
      ((status)) && tail -n 30 "$work/velmora.log" >&2; exit $status' EXIT

export QT_QPA_PLATFORM=wayland SWAYSOCK
SWAYSOCK=$(find "$(dirname "$WAYLAND_DISPLAY")" -maxdepth 1 -name 'sway-ipc.*.sock' -print -quit)
target_is() { [[ "$(cat "$work/target.txt" 2>/dev/null)" == "$1" ]]; }
window_open() { swaymsg -t get_tree | grep -qF "\"name\": \"$1\""; }
# Notices take the focus in a tiling compositor: each is closed, and the target focused again.
close_notice() {
  wait_for 20 window_open "$1" || fail "no notice titled '$1'"
  swaymsg "[title=\"^$1\$\"] kill" >/dev/null
  wait_for 10 eval '! window_open "$1"' || fail "notice '$1' did not close"
  swaymsg '[title="^velmora-e2e-target$"] focus' >/dev/null
}

start_service "$service" "$chat_upstream" "$make_dev_cert" "$("$velmora" --version | awk '{print $NF}')"
"$target_window" "$work/target.txt" "the quick brown fox" >"$work/target.log" 2>&1 &
pids+=($!)
wait_for 20 target_is "the quick brown fox" || fail "target window did not start"

"$velmora" >"$work/velmora.log" 2>&1 &
pids+=($!)
wait_for 20 log_has "App launched." || fail "Velmora did not launch"
log_has "Wayland session: clipboard through data-control, keystrokes through a virtual keyboard." ||
  fail "Velmora did not find data-control and the virtual keyboard"
# No portal binds shortcuts here: the notice names the command to bind instead.
close_notice "Hotkey Error"
close_notice "No Updates Available"
"$velmora" "$callback" || fail "second instance did not exit 0"
# Unasked-for callbacks are confirmed first; Return takes the default, "Sign In".
wait_for 20 window_open "Sign in to Velmora with the account from your browser?" ||
  fail "no sign-in question"
swaymsg '[title="^Sign in to Velmora"] focus' >/dev/null
wtype -k Return
close_notice "Signed In"

wl-copy "earlier clipboard text"
wtype -M ctrl a -m ctrl
"$velmora" --trigger || fail "velmora --trigger did not reach the running program"
wait_for 30 target_is "Rewritten: the quick brown fox" ||
  fail "the selection was not rewritten (target holds '$(cat "$work/target.txt")')"
wait_for 10 eval '[[ "$(wl-paste --no-newline)" == "earlier clipboard text" ]]' ||
  fail "the earlier clipboard text was not put back"
echo "Wayland end-to-end run passed"
