#!/usr/bin/env bash
# A long run of rewrites as people make them, checking after each one that the document and the
# clipboard are what they must be. The kinds come round in a fixed shuffled order: plain rewrites
# in a Qt line edit and in xterm, a quick second press that cancels, nothing selected, a slow
# service, a rejected token (signed in again afterwards), the HTTPS helper killed mid-request,
# and an image on the clipboard. Prints one line per failure and a summary.
# Runs in a private X server and session with the reference service and its scripted model
# backend on loopback.
# Usage: bench/soak.sh [rewrites, default 200] [build dir, default build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-200}
build=$(realpath "${2:-$root/build}")
if [[ -z ${VELMORA_BENCH_INNER:-} ]]; then
  export VELMORA_BENCH_INNER=1
  exec "$root/tests/support/run-in-session.sh" "$root/bench/soak.sh" "$count" "$build" \
    2> >(grep -v '^dbus-daemon' >&2)
fi

source "$root/bench/bench-lib.sh"
"$build/tests/integration/e2e/e2e_target_window" "$work/target.txt" "start" >/dev/null 2>&1 &
pids+=($!)
wait_for 20 eval '[[ "$(cat "$work/target.txt" 2>/dev/null)" == start ]]' ||
  fail "target window did not start"
target=$(xdotool search --onlyvisible --name '^velmora-e2e-target$' | head -n1)
# Each line entered is recorded, then shown alone on the first row, where a triple click selects it.
xterm -title velmora-soak-xterm -geometry 80x8+40+320 -e sh -c \
  'while IFS= read -r l; do printf "%s\n" "$l" >>"$0"; clear; printf "%s\n" "$l"; done' \
  "$work/terminal.txt" &
pids+=($!)
wait_for 20 eval 'xterm=$(xdotool search --onlyvisible --name "^velmora-soak-xterm$" | head -n1);
  [[ $xterm ]]' || fail "xterm did not start"

clipboard() { xclip -o -selection clipboard 2>/dev/null || true; }
clipboard_is() { [[ "$(clipboard)" == "$1" ]]; }
line_is() { [[ "$(cat "$work/target.txt")" == "$1" ]]; }
set_clipboard() {
  printf '%s' "$1" | xclip -selection clipboard -i
  wait_for 10 clipboard_is "$1"
}
completions() { grep -c "Processing complete" "$work/velmora.log" || true; }
notice_up() { xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
# Puts fresh text in the line edit and selects it.
prepare_line() {
  xdotool windowfocus --sync "$target"
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 0 "$1"
  wait_for 10 line_is "$1"
  xdotool key --clearmodifiers ctrl+a
}
press() { xdotool keydown --delay 0 ctrl+shift+p sleep 0.1 keyup --delay 0 p shift ctrl; }
more_completions_than() { (($(completions) > $1)); }

failures=0
failed() {
  failures=$((failures + 1))
  echo "rewrite $i ($kind): $*"
}
expect_line() {
  wait_for 5 line_is "$1" || failed "the line edit holds '$(cat "$work/target.txt")'"
}
expect_clipboard() {
  wait_for 5 clipboard_is "$1" || failed "the clipboard holds '$(clipboard)'"
}

kinds=(plain plain terminal cancel nothing slow rejected helper image plain)
declare -A made=()
start=$SECONDS
RANDOM=7
for ((i = 1; i <= count; i++)); do
  kind=${kinds[RANDOM % ${#kinds[@]}]}
  made[$kind]=$((${made[$kind]:-0} + 1))
  text="sample $i"
  [[ $kind == slow || $kind == helper || $kind == cancel ]] && text="SLOW sample $i"
  [[ $kind != image ]] && set_clipboard "clipboard $i"
  case $kind in
    plain | slow)
      prepare_line "$text"
      before=$(completions)
      press
      wait_for 30 more_completions_than "$before" || failed "no completion"
      expect_line "Rewritten: $text"
      expect_clipboard "clipboard $i"
      ;;
    terminal)
      xdotool windowfocus --sync "$xterm"
      xdotool type --delay 0 "$text"
      xdotool key Return
      wait_for 5 eval '[[ "$(tail -n1 "$work/terminal.txt")" == "$text" ]]' ||
        failed "the terminal did not take '$text'"
      xdotool mousemove --window "$xterm" 20 8 click --repeat 3 --delay 80 1
      before=$(completions)
      press
      wait_for 30 more_completions_than "$before" || failed "no completion"
      xdotool key Return
      wait_for 5 eval '[[ "$(tail -n1 "$work/terminal.txt")" == "Rewritten: $text" ]]' ||
        failed "the terminal got '$(tail -n1 "$work/terminal.txt")'"
      expect_clipboard "clipboard $i"
      ;;
    cancel)
      prepare_line "$text"
      press
      sleep "0.$((RANDOM % 4 + 1))"
      press
      dismiss "Processing Cancelled"
      expect_line "$text"
      expect_clipboard "clipboard $i"
      ;;
    nothing)
      prepare_line "$text"
      xdotool key --clearmodifiers End
      sent=$(requests)
      press
      dismiss "No Text Selected"
      [[ $(requests) -eq $sent ]] || failed "text was sent with nothing selected"
      expect_line "$text"
      expect_clipboard "clipboard $i"
      ;;
    rejected)
      "$velmora" "velmora://auth/callback?token=revoked-$i" >/dev/null 2>&1
      dismiss "Sign in to Velmora with the account from your browser\\?"
      dismiss "Signed In"
      prepare_line "$text"
      press
      dismiss "Authentication Error"
      expect_line "$text"
      expect_clipboard "clipboard $i"
      "$velmora" "$callback" >/dev/null 2>&1
      dismiss "Sign in to Velmora with the account from your browser\\?"
      dismiss "Signed In"
      ;;
    helper)
      prepare_line "$text"
      sent=$(requests)
      press
      wait_for 10 eval '(($(requests) > sent))' || failed "the request was not sent"
      pkill -KILL -f velmora-https || failed "no helper to kill"
      dismiss "Processing Error"
      expect_line "$text"
      expect_clipboard "clipboard $i"
      ;;
    image)
      # A screenshot's size: larger ones may take longer to convert than Velmora waits.
      "$build/bench/velmora_qt_image_owner" 1280 800 >"$work/owner.log" 2>&1 &
      owner=$!
      wait_for 20 grep -q ready "$work/owner.log" || failed "the image owner did not start"
      prepare_line "$text"
      before=$(completions)
      press
      wait_for 30 more_completions_than "$before" || failed "no completion"
      expect_line "Rewritten: $text"
      kill "$owner"
      wait "$owner" 2>/dev/null || true
      wait_for 5 eval 'xclip -o -selection clipboard -t TARGETS 2>/dev/null | grep -q image/png' ||
        failed "the image did not come back to the clipboard"
      ;;
  esac
  for title in "Processing Error" "No Text Selected" "Processing Cancelled"; do
    if notice_up "$title"; then
      failed "an unexpected '$title' notice"
      dismiss "$title"
    fi
  done
done
grep -o 'Clipboard: .*' "$work/velmora.log" | sort | uniq -c || true
for kind in "${!made[@]}"; do printf '%s %s, ' "${made[$kind]}" "$kind"; done
echo
echo "$count rewrites in $((SECONDS - start)) s: $((count - failures)) as they must be," \
  "$failures not"
((failures == 0))
