#!/usr/bin/env bash
# The whole product on one machine: a private X server with a tray host, a session bus with an
# unlocked keyring, the reference service with a scripted model backend, real applications
# (a Qt line edit, xterm, xfce4-terminal, a GTK text view) and Velmora itself, driven with real
# keystrokes. It checks what the user would see: the rewritten text, the clipboard given back, the
# token kept secret, a running terminal job left alone, a terminal with nothing selected left alone
# and its selection given back, a paste confirmation answered late, no carriage returns from GTK,
# one rewrite for a held shortcut, no panel over a notice, nothing sent when nothing is selected,
# a rewrite started by the trigger command, and the clipboard kept by a clipboard manager after
# Quit.
#
# Runs inside tests/support/run-in-session.sh. With E2E_KEEP=DIR the run's logs are copied to DIR.
# Usage: run-e2e.sh VELMORA SERVICE TARGET_WINDOW CHAT_UPSTREAM MAKE_DEV_CERT CLIPBOARD_OWNER
set -euo pipefail

velmora=$1 service=$2 target_window=$3 chat_upstream=$4 make_dev_cert=$5
clipboard_owner=$6
work="$HOME/run"
mkdir -p "$work"
source "$(dirname "$0")/e2e-lib.sh"
finish() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [[ -n "${E2E_KEEP:-}" ]] && mkdir -p "$E2E_KEEP" && cp -r "$work/." "$E2E_KEEP/"
  if [[ $status -ne 0 ]]; then
    for log in velmora service upstream; do
      echo "----- $log.log" >&2
      tail -n 40 "$work/$log.log" >&2 || true
    done
  fi
  exit $status
}
trap finish EXIT

clipboard_is() { [[ "$(xclip -o -selection clipboard 2>/dev/null)" == "$1" ]]; }
target_is() { [[ "$(cat "$work/target.txt" 2>/dev/null)" == "$1" ]]; }
# A search that meets a window being destroyed fails; that counts as not found yet.
visible() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true; }

# Waits for the notice titled $1 to be on screen and answers it with Return.
dismiss_notice() {
  local title=$1 wid=
  wait_for 20 eval 'wid=$(visible "$title"); [[ -n "$wid" ]]' || fail "no notice titled '$title'"
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
  xdotool key --clearmodifiers Return
  wait_for 10 eval '[[ -z "$(visible "$title")" ]]' || fail "notice '$title' did not close"
}

focus() {
  local title=$1 wid=
  wait_for 10 eval 'wid=$(visible "$title"); [[ -n "$wid" ]]' || fail "no window titled '$title'"
  xdotool windowfocus --sync "$wid"
}

set_clipboard() {
  printf '%s' "$1" | xclip -selection clipboard -i
  wait_for 10 clipboard_is "$1" || fail "could not put '$1' on the clipboard"
}

# Presses the shortcut and waits for the rewrite to end.
rewrite() {
  local before
  before=$(grep -c "Processing complete" "$work/velmora.log" || true)
  xdotool key ctrl+shift+p
  wait_for 30 eval '(($(grep -c "Processing complete" "$work/velmora.log") > before))' ||
    fail "the rewrite did not complete"
}

trayer --edge top --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
pids+=($!)
start_service "$service" "$chat_upstream" "$make_dev_cert" "$("$velmora" --version | awk '{print $NF}')"
"$target_window" "$work/target.txt" "the quick brown fox" >"$work/target.log" 2>&1 &
pids+=($!)
wait_for 20 target_is "the quick brown fox" || fail "target window did not start"

"$velmora" >"$work/velmora.log" 2>&1 &
velmora_pid=$!
pids+=($velmora_pid)
wait_for 20 log_has "App launched." || fail "Velmora did not launch"
log_has "Authenticated: false, Token available: false" || fail "a fresh profile started signed in"
dismiss_notice "No Updates Available"

# --- Sign in through the velmora: URL, handed to the running instance (for this user only) -------
[[ "$(stat -c %a "$XDG_RUNTIME_DIR/velmora.socket")" == 600 ]] || fail "others may use the socket"
"$velmora" "$callback" >"$work/second-instance.log" 2>&1 || fail "second instance did not exit 0"
# No sign-in was started from the menu, so Velmora asks before it takes the account.
dismiss_notice "Sign in to Velmora with the account from your browser\\?"
dismiss_notice "Signed In"
[[ "$(secret-tool lookup service com.mendwell.authtoken account sessionToken)" == "$token" ]] ||
  fail "the token is not in the Secret Service"

# --- One rewrite, and one only for a held shortcut ----------------------------------------------
set_clipboard "earlier clipboard text"
focus velmora-e2e-target
xdotool key --clearmodifiers ctrl+a
xdotool keydown ctrl+shift+p
sleep 0.6
xdotool keyup p shift ctrl
wait_for 30 target_is "Rewritten: the quick brown fox" ||
  fail "the selection was not rewritten (target holds '$(cat "$work/target.txt")')"
wait_for 10 clipboard_is "earlier clipboard text" || fail "the earlier clipboard text was not put back"
wait_for 10 log_has "Processing complete. Pasteboard restored." || fail "no completion line"
[[ $(requests) -eq 1 && $(grep -c "hotkeyTriggered called" "$work/velmora.log") -eq 1 ]] ||
  fail "holding the shortcut triggered more than once"
grep -qF '"content":"Act as a helpful AI assistant to process the following text."' \
  "$work/upstream-requests.jsonl" || fail "the model backend did not get the style's instruction"
grep -qF '"content":"the quick brown fox"' "$work/upstream-requests.jsonl" ||
  fail "the model backend did not get the selected text"

# --- Nothing selected: nothing is sent, and the panel is gone before the notice shows ---------
focus velmora-e2e-target
xdotool key --clearmodifiers End
xdotool key ctrl+shift+p
wait_for 20 eval '[[ -n "$(visible "No Text Selected")" ]]' || fail "no notice for an empty selection"
[[ -z "$(visible "Velmora HUD")" ]] || fail "the progress panel covers the notice"
dismiss_notice "No Text Selected"
[[ $(requests) -eq 1 ]] || fail "text was sent with nothing selected"
wait_for 10 clipboard_is "earlier clipboard text" || fail "the clipboard was not given back"

# --- A terminal: its job survives, the selection goes in as typed input ------------------------
xterm -title velmora-e2e-xterm -geometry 80x8+40+320 \
  -e sh -c 'echo "rewrite this terminal line"; exec cat >"$0"' "$work/terminal.txt" &
pids+=($!)
wait_for 20 eval '[[ -n "$(visible velmora-e2e-xterm)" ]]' || fail "xterm did not start"
# With nothing selected in the terminal, another window's selection is not the terminal's.
printf 'another window' | xclip -selection primary
focus velmora-e2e-xterm
xdotool key ctrl+shift+p
dismiss_notice "No Text Selected"
[[ $(requests) -eq 1 ]] || fail "another window's selection was rewritten in the terminal"
xdotool mousemove --window "$(visible velmora-e2e-xterm)" 20 8 click --repeat 3 --delay 80 1
focus velmora-e2e-xterm
rewrite
xdotool key Return
wait_for 10 eval '[[ "$(cat "$work/terminal.txt")" == "Rewritten: rewrite this terminal line" ]]' ||
  fail "the terminal got '$(cat "$work/terminal.txt")', or its job was interrupted"
[[ "$(xclip -o -selection primary)" == "rewrite this terminal line" ]] ||
  fail "PRIMARY was not given back after the terminal's rewrite"

# --- A terminal that asks before pasting a newline, answered a second later --------------------
xfce4-terminal --disable-server --hide-menubar --hide-toolbar --title velmora-e2e-xfce \
  --geometry 60x4+40+480 -x sh -c 'printf "confirm\nthis\n"; exec cat >"$0"' "$work/xfce.txt" \
  >"$work/xfce.log" 2>&1 &
pids+=($!)
wait_for 20 eval '[[ -n "$(visible velmora-e2e-xfce)" ]]' || fail "xfce4-terminal did not start"
xdotool mousemove --window "$(visible velmora-e2e-xfce)" 10 8 click --repeat 3 --delay 80 1 \
  mousemove --window "$(visible velmora-e2e-xfce)" 30 26 keydown shift click 1 keyup shift
set_clipboard "before the confirmation"
focus velmora-e2e-xfce
# The user reads the question for a second, then answers Paste (the default).
{ wait_for 30 eval '[[ -n "$(visible "Warning: Potentially Unsafe Paste")" ]]' && sleep 1 &&
  focus "Warning: Potentially Unsafe Paste" && xdotool key Return; } &
rewrite
wait $!
focus velmora-e2e-xfce
xdotool key Return
answer=$'Rewritten: confirm\nthis'
wait_for 10 eval '[[ "$(cat "$work/xfce.txt")" == "$answer" ]]' ||
  fail "xfce4-terminal pasted '$(cat "$work/xfce.txt")' after its question"
wait_for 10 clipboard_is "before the confirmation" || fail "the clipboard was not given back"

# --- A GTK text view: multi-line text goes out and comes back without carriage returns --------
printf 'line one\nline two' >"$work/gtk.txt"
zenity --text-info --editable --title velmora-e2e-gtk --filename "$work/gtk.txt" >/dev/null 2>&1 &
pids+=($!)
wait_for 20 eval '[[ -n "$(visible velmora-e2e-gtk)" ]]' || fail "the GTK window did not start"
focus velmora-e2e-gtk
xdotool key --clearmodifiers ctrl+a
rewrite
grep -qF '"content":"line one\nline two"' "$work/upstream-requests.jsonl" ||
  fail "the GTK text was not sent as the user has it"
xdotool key --clearmodifiers ctrl+a ctrl+c
wait_for 10 clipboard_is $'Rewritten: line one\nline two' ||
  fail "the GTK view holds '$(xclip -o -selection clipboard | od -c | head -n 3)'"

# --- A second press cancels the running rewrite -------------------------------------------------
focus velmora-e2e-target
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "SLOW draft"
xdotool key --clearmodifiers ctrl+a
set_clipboard "kept across the cancel"
focus velmora-e2e-target
xdotool key ctrl+shift+p
wait_for 20 eval 'grep -qF "SLOW draft" "$work/upstream-requests.jsonl"' || fail "the slow request was not sent"
xdotool key ctrl+shift+p
dismiss_notice "Processing Cancelled"
wait_for 10 clipboard_is "kept across the cancel" || fail "the clipboard was not given back after the cancel"
target_is "SLOW draft" || fail "a cancelled rewrite changed the text"

# --- `velmora --trigger` with no Velmora running starts it, then rewrites once it is ready -------
kill -TERM "$velmora_pid"
wait "$velmora_pid" || true
focus velmora-e2e-target
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "started by the trigger"
xdotool key --clearmodifiers ctrl+a
# An update host that never answers: its notice would take the focus during the rewrite.
perl -MIO::Socket::INET -e '$| = 1; my $s = IO::Socket::INET->new(Listen => 1,
  LocalAddr => "127.0.0.1:0") or die $!; print $s->sockport, "\n"; sleep 300' >"$work/mute.port" &
pids+=($!)
wait_for 10 test -s "$work/mute.port" || fail "the mute update host did not start"
VELMORA_DOWNLOAD_HOST=127.0.0.1:$(cat "$work/mute.port") "$velmora" --trigger \
  >>"$work/velmora.log" 2>&1 &
velmora_pid=$!
pids+=($velmora_pid)
wait_for 30 target_is "Rewritten: started by the trigger" ||
  fail "a trigger with no Velmora running did not rewrite (target holds '$(cat "$work/target.txt")')"
kill -TERM "$velmora_pid"
wait "$velmora_pid" || true
"$velmora" >>"$work/velmora.log" 2>&1 &
velmora_pid=$!
pids+=($velmora_pid)
dismiss_notice "No Updates Available"

# --- A rejected token signs the user out ---------------------------------------------------------
"$velmora" "velmora://auth/callback?token=revoked-or-unknown" || fail "second instance failed"
dismiss_notice "Sign in to Velmora with the account from your browser\\?"
dismiss_notice "Signed In"
set_clipboard "kept across the quit"
focus velmora-e2e-target
xdotool key --clearmodifiers ctrl+a
xdotool key ctrl+shift+p
dismiss_notice "Authentication Error"
[[ -z "$(secret-tool lookup service com.mendwell.authtoken account sessionToken 2>/dev/null || true)" ]] ||
  fail "the rejected token is still stored"

# --- Quit hands the clipboard to a clipboard manager; the token never reaches an output line ------
"$clipboard_owner" --manager >"$work/manager.log" 2>&1 &
pids+=($!)
wait_for 20 grep -q ready "$work/manager.log" || fail "the clipboard manager did not start"
kill -TERM "$velmora_pid"
wait_for 10 eval '! kill -0 '"$velmora_pid"' 2>/dev/null' || fail "Velmora did not quit on SIGTERM"
clipboard_is "kept across the quit" || fail "the clipboard did not outlive Velmora"
for log in velmora second-instance service; do
  if grep -qF -- "$token" "$work/$log.log"; then fail "the session token appears in $log.log"; fi
done
echo "end-to-end run passed"
