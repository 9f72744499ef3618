#!/usr/bin/env bash
# What a large answer costs in memory: one rewrite whose answer is BYTES long (default 8 MiB less
# 1 KiB, the most the reference service passes on), pasted into a Qt line edit. Prints Velmora's
# peak resident memory (VmHWM) before the press and after the rewrite, the difference as a
# multiple of the answer's size, and the HTTPS helper's peak. Runs in a private X server and
# session with the reference service and its scripted model backend on loopback.
# Usage: bench/answer-memory.sh [bytes] [build dir, default build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bytes=${1:-$((8 * 1024 * 1024 - 1024))}
build=$(realpath "${2:-$root/build}")
if [[ -z ${VELMORA_BENCH_INNER:-} ]]; then
  export VELMORA_BENCH_INNER=1
  exec "$root/tests/support/run-in-session.sh" "$0" "$bytes" "$build" \
    2> >(grep -v '^dbus-daemon' >&2)
fi

source "$root/bench/bench-lib.sh"
pid=${pids[-1]}
"$build/tests/integration/e2e/e2e_target_window" "$work/target.txt" "SIZE:$bytes" \
  >/dev/null 2>&1 &
pids+=($!)
wait_for 20 eval '[[ "$(cat "$work/target.txt" 2>/dev/null)" == SIZE:* ]]' ||
  fail "target window did not start"
target=$(xdotool search --onlyvisible --name '^velmora-e2e-target$' | head -n1)

peak() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status"; }
before=$(peak "$pid")
lines=$(wc -l <"$work/velmora.log")
xdotool windowfocus --sync "$target"
xdotool key --clearmodifiers ctrl+a
xdotool keydown --delay 0 ctrl+shift+p sleep 0.3 keyup --delay 0 p shift ctrl
since_press() { tail -n +$((lines + 1)) "$work/velmora.log"; }
wait_for 120 eval '[[ $(since_press) =~ "Processing complete"|"Error: " ]]' ||
  fail "the rewrite did not end"
sleep 1
after=$(peak "$pid")
helper=$(pgrep -P "$pid" -x velmora-https || true)
since_press | grep -E 'Successfully received|Error' | cut -c1-160 || true
awk -v b="$before" -v a="$after" -v n="$bytes" -v h="${helper:+$(peak "$helper")}" 'BEGIN {
  printf "Velmora peak RSS: %.1f MiB before the press, %.1f MiB after the rewrite: %.1f MiB more, %.1f x the answer (%.2f MiB)\n",
    b / 1024, a / 1024, (a - b) / 1024, (a - b) * 1024 / n, n / 1048576
  if (h != "") printf "HTTPS helper peak RSS: %.1f MiB\n", h / 1024 }'
