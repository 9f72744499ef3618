#!/usr/bin/env bash
# How long a rewrite waits on an HTTPS helper that has been stopped (SIGSTOP) in the middle of
# its request: from the stop to Velmora's "Network request failed" line, given up after LIMIT
# seconds. The scripted model backend takes 5 s over the request, so the helper is stopped while
# it waits for the answer. Runs in a private X server and session with the reference service.
# Usage: bench/stopped-helper.sh [build dir, default build] [limit, default 100]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
limit=${2:-100}
if [[ -z ${VELMORA_BENCH_INNER:-} ]]; then
  export VELMORA_BENCH_INNER=1
  exec "$root/tests/support/run-in-session.sh" "$0" "$build" "$limit" \
    2> >(grep -v '^dbus-daemon' >&2)
fi

source "$root/bench/bench-lib.sh"
pid=${pids[-1]}
"$build/tests/integration/e2e/e2e_target_window" "$work/target.txt" "SLOW please" \
  >/dev/null 2>&1 &
pids+=($!)
wait_for 20 eval '[[ "$(cat "$work/target.txt" 2>/dev/null)" == "SLOW please" ]]' ||
  fail "target window did not start"
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^velmora-e2e-target$' | head -n1)"
xdotool key --clearmodifiers ctrl+a
lines=$(wc -l <"$work/velmora.log")
since_press() { tail -n +$((lines + 1)) "$work/velmora.log"; }
xdotool keydown --delay 0 ctrl+shift+p sleep 0.3 keyup --delay 0 p shift ctrl
wait_for 20 eval '[[ $(since_press) == *"Payload provider"* ]]' || fail "no request"
sleep 0.5
helper=$(pgrep -P "$pid" -x velmora-https) || fail "no helper"
kill -STOP "$helper"
stopped=$EPOCHREALTIME
if wait_for "$limit" eval '[[ $(since_press) == *"Network request failed"* ]]'; then
  awk -v s="$stopped" -v e="$EPOCHREALTIME" 'BEGIN {printf "Network error %.1f s after the stop\n", e - s}'
  since_press | grep -m1 "Network request failed" | cut -d' ' -f2-
else
  echo "No error within $limit s of the stop"
fi
kill -CONT "$helper" 2>/dev/null || true
