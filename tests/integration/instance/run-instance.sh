#!/usr/bin/env bash
# One Velmora per user, and the session token kept from other local users: a second start hands
# its URL to the live instance without touching its socket, of two simultaneous starts exactly one
# stays and gets the other's URL, neither process shows the URL in /proc/PID/cmdline nor may dump
# core, and a socket folder another user made or can write to is never used.
# Runs inside tests/support/run-in-session.sh; the foreign folder's owner is `nobody` when run as
# root. Usage: run-instance.sh VELMORA
set -euo pipefail

velmora=$1
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
