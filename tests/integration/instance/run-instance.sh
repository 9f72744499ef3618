#!/usr/bin/env bash
# One Velmora per user, and the session token kept from other local users: a second start hands
# its URL to the live instance without touching its socket, of two simultaneous starts exactly one
# stays and gets the other's URL, neither process shows the URL in /proc/PID/cmdline nor may dump
# core, and a socket folder another user made or can write to is never used. Where there is no
# tray (this display has no tray host) the menu is a window, shown at every start. Launchers that
# use the session bus start Velmora through it and hand over URLs and actions there. Without a
# display Velmora says so and fails.
# Runs inside tests/support/run-in-session.sh; the foreign folder's owner is `nobody` when run as
# root. Usage: run-instance.sh VELMORA SHARE (SHARE: the build's desktop entry and service file)
set -euo pipefail

velmora=$1 share=$2
work="$HOME/run"
mkdir -p "$work"
source "$(dirname "$0")/../e2e/e2e-lib.sh"
shared=$(mktemp -d /tmp/velmora-instance.XXXXXX)
chmod 1777 "$shared"
trap 'status=$?; kill -CONT "${pids[@]}" 2>/dev/null; kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null
      rm -rf "$shared"; ((status)) && tail -n 20 "$work"/*.log >&2; exit $status' EXIT
# Only loopback: the update check fails at once.
export VELMORA_API_HOST=127.0.0.1:9 VELMORA_DOWNLOAD_HOST=127.0.0.1:9 VELMORA_WEBSITE_HOST=127.0.0.1:9

secret="instance-test-$RANDOM$RANDOM"
url() { echo "velmora://test/handover?token=$secret&from=$1"; }
received() { grep -qsF "token=<redacted>&from=$2" "$work/$1.log"; }
only_program() { [[ $(tr -d '\0' <"/proc/$1/cmdline") == "$velmora" ]]; }
launch() { "$velmora" "$(url "$1")" >"$work/$1.log" 2>&1 & pid=$! && pids+=("$pid"); }
start() { launch "$1" && wait_for 30 received "$1" "$1" || fail "instance $1 did not start"; }
stop() { kill -TERM "$1" && wait "$1" || true; }

# --- The instance: no token on its command line, no core file -----------------------------------
start one
instance=$pid
only_program "$instance" || fail "the instance's command line shows the token"
grep -Eq '^Max core file size +0 +0 ' "/proc/$instance/limits" || fail "the instance may dump core"

# --- A second start hands over through the live socket and leaves it in place -------------------
inode=$(stat -c %i "$XDG_RUNTIME_DIR/velmora.socket")
kill -STOP "$instance"
launch two
# The hand-over waits for the stopped instance to take its URL, and meanwhile shows no URL.
wait_for 10 only_program "$pid" || fail "the hand-over's command line shows the token"
kill -CONT "$instance"
wait "$pid" || fail "the hand-over failed"
wait_for 20 received one two || fail "the instance did not get the handed-over URL"
[[ $(stat -c %i "$XDG_RUNTIME_DIR/velmora.socket") == "$inode" ]] ||
  fail "a second start replaced the live instance's socket"
stop "$instance"

# --- Two starts at once: one instance, which has both URLs -------------------------------------
launch a && a=$pid
launch b && b=$pid
wait_for 30 eval '! kill -0 $a 2>/dev/null || ! kill -0 $b 2>/dev/null' || fail "two instances run"
if kill -0 "$a" 2>/dev/null; then winner=a loser=$b; else winner=b loser=$a; fi
wait "$loser" || fail "the start that lost did not hand over"
wait_for 30 eval 'received $winner a && received $winner b' || fail "the instance lacks a URL"
stop "${!winner}"

visible() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true; }
# Waits for the window titled $1 and closes it with the key $2.
close_window() {
  local title=$1 wid=
  wait_for 30 eval 'wid=$(visible "$title"); [[ -n $wid ]]' || fail "no window titled '$title'"
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
  xdotool key "$2"
  wait_for 10 eval '[[ -z $(visible "$title") ]]' || fail "the window '$title' did not close"
}

# --- No tray: the menu is a window, shown at start and again at every later start --------------
"$velmora" >"$work/window.log" 2>&1 &
pids+=($!) instance=$!
close_window "Update Failed" Return
close_window Velmora Escape
"$velmora" || fail "a second plain start failed"
wait_for 20 eval '[[ -n $(visible Velmora) ]]' || fail "a second start did not show the menu"
stop "$instance"

# --- Over the session bus: the bus starts Velmora, and the URL is in no Velmora's arguments ---
# Registered as the run command registers a build: the entry, the bus's service file, the handler.
cp -r "$share/." "$XDG_DATA_HOME/"
printf '[Default Applications]\nx-scheme-handler/velmora=app.velmora.Velmora.desktop\n' \
  >"$XDG_CONFIG_HOME/mimeapps.list"
gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method \
  org.freedesktop.DBus.UpdateActivationEnvironment "{'VELMORA_DOWNLOAD_HOST': '127.0.0.1:9'}" >/dev/null
gio open "velmora://auth/callback?token=$secret" || fail "gio could not open the callback"
instance=$(pgrep -xf "$velmora") || fail "the bus did not start Velmora"
pids+=("$instance")
# No sign-in was started from the menu: Velmora asks, and Escape declines.
close_window "Sign in to Velmora with the account from your browser\\?" Escape
for pid in $(pgrep -f "^$velmora"); do
  ! grep -qF "$secret" "/proc/$pid/cmdline" || fail "a Velmora process shows the URL"
done
close_window "Update Failed" Return
app=(--session --dest app.velmora.Velmora --object-path /app/velmora/Velmora --method)
gdbus call "${app[@]}" org.freedesktop.Application.Activate {} >/dev/null
wait_for 20 eval '[[ -n $(visible Velmora) ]]' || fail "Activate did not show the menu"
entry=$XDG_CONFIG_HOME/autostart/app.velmora.Velmora.desktop
gdbus call "${app[@]}" org.freedesktop.Application.ActivateAction start-at-login [] {} >/dev/null
wait_for 10 grep -qxF "Exec=$velmora" "$entry" || fail "Start at Login wrote no entry for $velmora"
gdbus call "${app[@]}" org.freedesktop.Application.ActivateAction start-at-login [] {} >/dev/null
wait_for 10 eval '[[ ! -e $entry ]]' || fail "Start at Login left its entry"
gdbus call "${app[@]}" org.freedesktop.Application.ActivateAction quit [] {} >/dev/null
wait_for 20 eval '! kill -0 $instance 2>/dev/null' || fail "the launcher's Quit did not end Velmora"

# --- No display at all: a clear message and a failure, never a crash ---------------------------
for platform in QT_QPA_PLATFORM=offscreen "-u QT_QPA_PLATFORM"; do
  status=0
  env -u DISPLAY -u WAYLAND_DISPLAY $platform "$velmora" >"$work/no-display.log" 2>&1 || status=$?
  ((status == 1)) && grep -qF "neither DISPLAY nor WAYLAND_DISPLAY is set" "$work/no-display.log" ||
    fail "with no display ($platform): status $status"
done

# --- A socket folder another user made or may write into is not used ---------------------------
bad="$shared/velmora-$(id -u)"
mkdir -m 0777 "$bad"
as_other=() owners=()
((EUID)) || as_other=(setpriv --reuid=nobody --regid=nogroup --clear-groups) owners=(nobody)
owners+=("$(id -un)")
"${as_other[@]}" perl -MIO::Socket::UNIX -e '$| = 1;
  my $s = IO::Socket::UNIX->new(Local => "$ARGV[0]/velmora.socket", Listen => 5) or die $!;
  while (my $c = $s->accept) { print while <$c> }' "$bad" >"$work/stolen.txt" &
pids+=($!)
wait_for 10 test -S "$bad/velmora.socket" || fail "the other user's listener did not start"
export XDG_RUNTIME_DIR=$bad TMPDIR=$shared
for owner in "${owners[@]}"; do
  chown "$owner" "$bad"
  start "$owner"
  instance=$pid
  "$velmora" "$(url "$owner-again")" >"$work/$owner-again.log" 2>&1 || fail "the hand-over failed"
  wait_for 20 received "$owner" "$owner-again" || fail "the instance did not get the URL"
  grep -qF "Not using $bad for the instance socket" "$work/$owner.log" || fail "no line on $bad"
  stop "$instance"
done
[[ ! -s $work/stolen.txt && ! -e $bad/velmora.lock ]] || fail "a foreign socket folder was used"
echo "instance checks passed"
