#!/usr/bin/env bash
# Measures what an idle Velmora costs: time from process start to the "App launched." line,
# resident memory after start, and CPU time over an idle minute. Runs the program under its own
# Xvfb and D-Bus session. Usage: bench/footprint.sh [path/to/velmora] [idle seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/velmora}")
idle_seconds=${2:-60}

if [[ -z ${VELMORA_FOOTPRINT_INNER:-} ]]; then
  export VELMORA_FOOTPRINT_INNER=1
  exec "$root/tests/support/run-in-session.sh" "$0" "$program" "$idle_seconds"
fi

ticks_per_second=$(getconf CLK_TCK)
log="$HOME/velmora.log"
times="$HOME/time.txt"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Each line is stamped as it arrives; the program flushes every line.
start_ns=$(date +%s%N)
/usr/bin/time -v -o "$times" "$program" |
  while IFS= read -r line; do echo "$(date +%s%N) $line"; done >"$log" &

pid=
for _ in $(seq 1 600); do
  pid=$(pgrep -P "$(pgrep -n -f "^/usr/bin/time -v -o $times")" 2>/dev/null || true)
  [[ -n $pid ]] && grep -q "App launched." "$log" && break
  sleep 0.05
done
[[ -n $pid ]] || { echo "velmora did not start" >&2; exit 1; }

launched_ns=$(awk '/App launched\./ {print $1; exit}' "$log")
# Let the delayed work of the launch (the update check at 2 s) pass before measuring idleness.
sleep 3
rss_kib=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
before=$(cpu_ticks "$pid")
sleep "$idle_seconds"
after=$(cpu_ticks "$pid")
kill -TERM "$pid"
wait || true

echo "Launch line after process start: $(((launched_ns - start_ns) / 1000000)) ms (goal <= 300 ms)"
awk -v k="$rss_kib" 'BEGIN {printf "Resident memory after start: %.1f MiB (goal <= 35 MiB)\n", k / 1024}'
awk -v t="$((after - before))" -v hz="$ticks_per_second" -v s="$idle_seconds" \
  'BEGIN {printf "CPU time over %d idle seconds: %.2f s (goal 0.00 s)\n", s, t / hz}'
awk -F': ' '/Maximum resident set size/ {printf "Peak resident memory (time -v): %.1f MiB\n", $2 / 1024}' "$times"
