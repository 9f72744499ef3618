#!/usr/bin/env bash
# Rewrites in a Wayland session, pressed as people press: the real program signed in to the
# reference service (with a scripted model backend), a Wayland-native Qt line edit that records
# the keys it receives, and a second keyboard standing for the user's. The user presses Ctrl+Shift+P
# with P held 0.3 s and the modifiers let go after it, then holds it 2 s: each press rewrites the
# line with one request, gives the clipboard back, and reaches the line edit as exactly Ctrl+C and
# Ctrl+V, leaving no key down. In sway the shortcut is the README's binding of `velmora --trigger`,
# and a binding that repeats while held still makes one request; in KWin Velmora binds it through
# the GlobalShortcuts portal. Runs inside run-in-compositor.sh.
# Usage: run-rewrite.sh VELMORA SERVICE TARGET_WINDOW CHAT_UPSTREAM MAKE_DEV_CERT
set -euo pipefail

velmora=$1 service=$2 target_window=$3 chat_upstream=$4 make_dev_cert=$5
here=$(cd "$(dirname "$0")" && pwd)
work="$HOME/run"
mkdir -p "$work"
source "$here/../e2e/e2e-lib.sh"
trap 'status=$?; kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null
      ((status)) && tail -n 30 "$work/velmora.log" >&2; exit $status' EXIT
export QT_QPA_PLATFORM=wayland

if [[ -n ${SWAYSOCK:-} ]]; then
  desktop=sway
  # The user's keyboard plays Linux key codes ("29+" pressed, "29-" let go) and pauses in seconds.
  keys() {
    local names=([29]=ctrl [42]=shift [25]=p [24]=o [30]=a [107]=End) args=() step
    for step; do
      case $step in
        29? | 42?) args+=("$([[ $step == *+ ]] && echo -M || echo -m)" "${names[${step%?}]}") ;;
        *[+-]) args+=("$([[ $step == *+ ]] && echo -P || echo -p)" "${names[${step%?}]}") ;;
        *) args+=(-s "$(awk "BEGIN { print $step * 1000 }")") ;;
      esac
    done
    wtype "${args[@]}"
  }
  swaymsg "bindsym --no-repeat Ctrl+Shift+p exec $velmora --trigger" >/dev/null
  swaymsg "bindsym Ctrl+Shift+o exec $velmora --trigger" >/dev/null
  # Velmora's notices take the focus from the line edit; each is closed as it opens.
  swaymsg 'for_window [app_id="(?i)velmora"] kill' >/dev/null
  swaymsg "for_window [title=\"^No Updates Available\$\"] exec touch $work/update-notice-closed" \
    >/dev/null
  update_notice_closed() { [[ -e $work/update-notice-closed ]]; }
else
  desktop=kwin
  keys() { "$here/user-keyboard.py" "$@"; }
  echo 'workspace.clientAdded.connect(w => { if (/velmora/i.test(w.resourceClass)) {
    print("closed: " + w.caption); w.closeWindow(); } });' >"$work/close-notices.js"
  update_notice_closed() { grep -q "closed: No Updates Available" "$HOME/kwin.log"; }
  # KWin offers scripting a moment after it starts.
  kwin() { dbus-send --session --dest=org.kde.KWin --print-reply /Scripting "$@" &>/dev/null; }
  wait_for 20 kwin org.kde.kwin.Scripting.loadScript "string:$work/close-notices.js" ||
    fail "KWin offers no scripting"
  kwin org.kde.kwin.Scripting.start
fi

start_service "$service" "$chat_upstream" "$make_dev_cert" "$("$velmora" --version | awk '{print $NF}')"
printf %s "$token" | secret-tool store --label=Velmora service com.mendwell.authtoken \
  account sessionToken
"$target_window" "$work/target.txt" "the quick brown fox" "$work/keys.log" >/dev/null 2>&1 &
pids+=($!)
wait_for 20 eval '[[ -e $work/keys.log ]]' || fail "the line edit did not start"
"$velmora" >"$work/velmora.log" 2>&1 &
pids+=($!)
wait_for 20 log_has "Authenticated: true" || fail "Velmora did not start signed in"
[[ $desktop == sway ]] && expected="a virtual keyboard" || expected="the RemoteDesktop portal"
log_has "Wayland session: clipboard through data-control, keystrokes through $expected." ||
  fail "Velmora did not find data-control and $expected"
[[ $desktop == sway ]] || wait_for 20 log_has "hotkey registered successfully" ||
  fail "the portal did not bind the shortcut"
# The update check's notice comes 2 s after the start; the line edit has the focus back after it.
wait_for 20 update_notice_closed || fail "no update notice"

target_is() { [[ "$(cat "$work/target.txt")" == "$1" ]]; }
# Presses the shortcut with `keys` $2..., and checks what the user sees: the line rewritten to $1
# with one more request, the clipboard given back, and exactly Ctrl+C and Ctrl+V in between.
rewrite() {
  local expected=$1 before
  shift
  before=$(requests)
  wl-copy "earlier clipboard text"
  : >"$work/keys.log"
  keys 29+ 30+ 30- 29-
  wait_for 10 grep -qx "Ctrl+A" "$work/keys.log" || fail "Ctrl+A did not reach the line edit"
  : >"$work/keys.log"
  keys "$@"
  wait_for 30 target_is "$expected" ||
    fail "the line holds '$(cat "$work/target.txt")'; it received $(paste -sd, "$work/keys.log")"
  sleep 1
  [[ $(requests) -eq $((before + 1)) ]] || fail "$(($(requests) - before)) requests for one press"
  wait_for 10 eval '[[ "$(wl-paste -n)" == "earlier clipboard text" ]]' ||
    fail "the clipboard was not given back"
  # The user's own keys reach the line edit too: Control and Shift, pressed before the shortcut.
  [[ "$(grep -v -E '(Control|Shift)$' "$work/keys.log" | paste -sd,)" == "Ctrl+C,Ctrl+V" ]] ||
    fail "the line edit received: $(paste -sd, "$work/keys.log")"
  keys 107+ 107-
  wait_for 5 eval '[[ "$(tail -n1 "$work/keys.log")" == "End" ]]' ||
    fail "a key pressed afterwards came with modifiers: $(tail -n1 "$work/keys.log")"
}

# REWRITE_HOLDS: how long P is held in each press (bench/kwin-portal.sh tries more).
line="the quick brown fox"
for hold in ${REWRITE_HOLDS:-0.3 2}; do
  line="Rewritten: $line"
  rewrite "$line" 29+ 42+ 25+ "$hold" 25- 0.1 42- 0.1 29-
  echo "$desktop: P held $hold s: rewritten, Ctrl+C and Ctrl+V, one request"
done
if [[ $desktop == sway ]]; then
  rewrite "Rewritten: $line" 29+ 42+ 24+ 2 24- 0.1 42- 0.1 29-
  echo "sway: a repeating binding held 2 s: one request"
fi
