#!/usr/bin/env bash
# What an idle Velmora costs, measured beside a bare Qt tray program under one private Xvfb with a
# tray host: time from process start to the "App launched." line, resident memory (RSS), the
# proportional share (PSS) and the private memory (USS: Private_Clean + Private_Dirty), after start
# with the launch notice dismissed, and CPU time over an idle minute.
# Usage: bench/footprint.sh [path/to/velmora] [idle seconds] [path/to/velmora-tray-reference]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/velmora}")
idle_seconds=${2:-60}
reference=$(realpath "${3:-$(dirname "$program")/bench/velmora-tray-reference}")

if [[ -z ${VELMORA_FOOTPRINT_INNER:-} ]]; then
  export VELMORA_FOOTPRINT_INNER=1
  exec "$root/tests/support/run-in-session.sh" "$0" "$program" "$idle_seconds" "$reference"
fi

ticks_per_second=$(getconf CLK_TCK)
log="$HOME/velmora.log"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
memory() {  # RSS PSS USS in KiB
  awk '/^Rss:/ {r=$2} /^Pss:/ {p=$2} /^Private_(Clean|Dirty):/ {u+=$2} END {print r, p, u}' \
    "/proc/$1/smaps_rollup"
}
mib() { awk -v k="$1" 'BEGIN {printf "%.1f MiB", k / 1024}'; }

trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
tray_pid=$!
"$reference" &
reference_pid=$!
sleep 1

# Each line is stamped as it arrives; the program flushes every line.
start_ns=$(date +%s%N)
"$program" | while IFS= read -r line; do echo "$(date +%s%N) $line"; done >"$log" &
pid=
for _ in $(seq 1 600); do
  pid=$(pgrep -n -x "$(basename "$program" | cut -c1-15)" || true)
  [[ -n $pid ]] && grep -q "App launched." "$log" && break
  sleep 0.05
done
[[ -n $pid ]] || { echo "velmora did not start" >&2; exit 1; }
launched_ns=$(awk '/App launched\./ {print $1; exit}' "$log")

# The update check answers 2 s after launch; its notice is dismissed as a user would.
for _ in $(seq 1 100); do
  wid=$(xdotool search --onlyvisible --name '^(No Updates Available|Update Failed)$' 2>/dev/null |
    head -n1 || true)
  [[ -n $wid ]] && break
  sleep 0.1
done
if [[ -n ${wid:-} ]]; then
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
  xdotool key --clearmodifiers Return
fi
sleep 2

read -r rss pss uss < <(memory "$pid")
read -r ref_rss ref_pss ref_uss < <(memory "$reference_pid")
before=$(cpu_ticks "$pid")
sleep "$idle_seconds"
after=$(cpu_ticks "$pid")
kill -TERM "$pid" "$reference_pid" "$tray_pid" 2>/dev/null || true
wait 2>/dev/null || true

echo "Launch line after process start: $(((launched_ns - start_ns) / 1000000)) ms (goal <= 300 ms)"
echo "Velmora:           RSS $(mib "$rss"), PSS $(mib "$pss"), USS $(mib "$uss") (goal: RSS <= 40 MiB, USS <= 8 MiB)"
echo "Bare Qt tray icon: RSS $(mib "$ref_rss"), PSS $(mib "$ref_pss"), USS $(mib "$ref_uss")"
awk -v t="$((after - before))" -v hz="$ticks_per_second" -v s="$idle_seconds" \
  'BEGIN {printf "CPU time over %d idle seconds: %.2f s (goal 0.00 s)\n", s, t / hz}'
