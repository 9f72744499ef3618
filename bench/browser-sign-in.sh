#!/usr/bin/env bash
# A sign-in in a real browser, as a person does it after `scripts/run.sh`: as an unprivileged user
# (made when run as root) on a private display with a tray, the browser the desktop's default for
# https, `scripts/run.sh --no-build` started; then the tray menu's "Sign in", the page (which must
# come without a certificate warning), the passphrase, the browser's question whether to open
# Velmora answered yes, and Velmora's "Signed In". Prints each step with the seconds it took.
#
# Usage: bench/browser-sign-in.sh [chromium|firefox-esr] [SCREENSHOT_DIR]
#   chromium (default) or firefox-esr, Debian's packages; a Firefox profile is made first, as a
#   user who has opened Firefox before has one. Screenshots need xwd (x11-apps) and netpbm.
# Uses build/ or VELMORA_BUILD_DIR, as scripts/run.sh does.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
browser=${1:-chromium} shots=${2:-}
if [[ -z ${IN_BENCH_SESSION:-} ]]; then
  command -v "$browser" >/dev/null || { echo "Install $browser first (apt-get install $browser)" &&
    exit 2; }
  as_user=()
  if ((EUID == 0)); then
    id -u velmora-bench &>/dev/null || useradd --system --no-create-home velmora-bench
    as_user=(setpriv --reuid=velmora-bench --regid=velmora-bench --init-groups --)
    [[ -z $shots ]] || { mkdir -p "$shots" && chown velmora-bench "$shots"; }
  fi
  IN_BENCH_SESSION=1 exec "${as_user[@]}" "$root/tests/support/run-in-session.sh" "$0" "$@"
fi
work=$HOME
source "$root/tests/integration/e2e/e2e-lib.sh"
# The browser's own lock names its process: Chromium's SingletonLock "host-PID", a Firefox
# profile's lock "address:+PID".
browser_pid() {
  local lock
  lock=$(readlink "$XDG_CONFIG_HOME/chromium/SingletonLock" \
    "$XDG_CONFIG_HOME"/mozilla/firefox/*/lock "$HOME"/.mozilla/firefox/*/lock 2>/dev/null |
    head -n1) && echo "${lock##*[-+]}"
}
finish() {
  local status=$?
  kill "${pids[@]}" "$(browser_pid)" 2>/dev/null
  wait
  ((status)) && tail -n 30 "$work/velmora.log" >&2
  exit $status
}
trap finish EXIT
shown() { # sets w to the window whose title matches $1, waiting up to $2 seconds
  title=$1 && wait_for "$2" eval 'w=$(xdotool search --onlyvisible --name "$title" | head -n1)
    [[ -n $w ]]'
}
step_start=$SECONDS
step() {
  echo "$((SECONDS - step_start)) s  $1"
  step_start=$SECONDS
  [[ -z $shots ]] || xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$shots/$browser-$2.png"
}
# Without the network this machine lacks, the browsers wait on their own services.
export CHROMIUM_FLAGS="--no-first-run --disable-background-networking --disable-component-update
  --disable-sync --disable-quic --disable-gpu --password-store=basic"
if [[ $browser == firefox-esr ]]; then
  timeout 120 firefox-esr --headless --screenshot "$work/first.png" about:blank &>/dev/null || :
fi
xdg-mime default "$browser.desktop" x-scheme-handler/https x-scheme-handler/http
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
VELMORA_SERVICE_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
export VELMORA_SERVICE_PORT

"$root/scripts/run.sh" --no-build >"$work/velmora.log" 2>&1 &
pids+=($!)
shown "^No Updates Available$" 60 || fail "Velmora did not start"
step "Velmora started (the update check's notice shown)" started
xdotool windowfocus --sync "$w" key Return
# The icon is the tray's only one, at the screen's top right; "Sign in" is the menu's fourth item
# (after Writing Style, Edit shortcut and Check for Updates).
xdotool mousemove 1268 12 click 1 sleep 1 key Down Down Down Down Return
shown "Sign in to Velmora" 120 || fail "the sign-in page did not open"
step "the sign-in page opened in $browser" page
xdotool search --onlyvisible --name "Privacy error|Warning: Potential Security Risk" >/dev/null &&
  fail "the browser warned about the certificate"
sleep 3
xdotool windowfocus --sync "$w" type "$(cat "$XDG_DATA_HOME/velmora-service/passphrase")"
xdotool key Return
sleep 3
step "passphrase sent; the browser asks whether to open Velmora" question
# Chromium's question has Cancel focused: Tab, then Return answers "Open Velmora". Firefox asks
# twice, whether the site may open the link (Return: "Open Link") and with which application
# (Velmora chosen; Alt+O: "Open Link").
if [[ $browser == chromium ]]; then
  xdotool key Tab Return
else
  xdotool key Return sleep 3 key alt+o
fi
shown "^Signed In$" 60 || fail "Velmora did not sign in"
step "Velmora shows \"Signed In\"" signed-in
log_has "Authentication successful via URL callback. Token received." || fail "no callback line"
echo "browser sign-in passed"
