#!/usr/bin/env bash
# Konsole with nothing selected: its copy keys then send ^C to the running job, so the shortcut
# must send no keys at all there. Presses the shortcut again and again with nothing selected in a
# Konsole running `cat` (another window holding PRIMARY), and checks each time that "No Text
# Selected" shows, no request goes out and the job still takes input; then rewrites a selected
# line as usual. Runs in a private X server and session; the reference service answers
# "Rewritten: " + the text.
# Needs Konsole: sudo apt-get install --no-install-recommends konsole
# Usage: bench/konsole.sh [presses, default 5] [build dir]
set -euo pipefail
command -v konsole >/dev/null || { echo "Konsole is not installed" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
build=$(realpath "${2:-$root/build}")
if [[ -z ${VELMORA_BENCH_INNER:-} ]]; then
  export VELMORA_BENCH_INNER=1
  exec "$root/tests/support/run-in-session.sh" "$0" "$runs" "$build" \
    2> >(grep -v -E '^(dbus-daemon|kf\.|Qt:|QStandardPaths|$)' >&2)
fi

source "$root/bench/bench-lib.sh"
konsole --separate --nofork --hide-menubar --hide-tabbar -p tabtitle=velmora-bench-konsole \
  -e sh -c 'echo "rewrite this konsole line"; exec cat >"$0"' "$work/konsole.txt" \
  >"$work/konsole.log" 2>&1 &
pids+=($!)
wait_for 60 eval 'konsole=$(xdotool search --onlyvisible --name "^velmora-bench-konsole" |
  head -n1); [[ -n $konsole ]]' || fail "Konsole did not start"
sleep 2

alive=0
for ((i = 1; i <= runs; i++)); do
  printf 'another window' | xclip -selection primary
  xdotool windowfocus --sync "$konsole"
  xdotool key ctrl+shift+p
  dismiss "No Text Selected"
  xdotool windowfocus --sync "$konsole"
  xdotool type "still here $i"
  xdotool key Return
  if wait_for 5 grep -qx "still here $i" "$work/konsole.txt"; then
    alive=$((alive + 1))
    echo "press $i with nothing selected: the job took input afterwards"
  else
    echo "press $i with nothing selected: the job did NOT take input afterwards"
  fi
done
sent=$(requests 2>/dev/null)

# The first line sits below Konsole's top margin.
xdotool mousemove --window "$konsole" 40 40 click --repeat 3 --delay 80 1
xdotool windowfocus --sync "$konsole"
done_lines=$(grep -c "Processing complete" "$work/velmora.log" || true)
xdotool key ctrl+shift+p
wait_for 30 eval '(($(grep -c "Processing complete" "$work/velmora.log") > done_lines))' ||
  fail "the rewrite of a selected line did not complete"
xdotool key Return
wait_for 5 grep -q "Rewritten: rewrite this konsole line" "$work/konsole.txt" && rewritten=yes ||
  rewritten=no
echo "$alive of $runs presses with nothing selected left the job running; $sent requests" \
  "sent for them; a selected line rewritten afterwards: $rewritten"
[[ $alive -eq $runs && $sent -eq 0 && $rewritten == yes ]]
