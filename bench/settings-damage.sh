#!/usr/bin/env bash
# What a damaged settings file costs at start: velmora.conf filled with MIB mebibytes of short
# lines whose values are not UTF-8 text ("k=\xE9"), then the time from process start to the
# "App launched." line, the peak resident memory (VmHWM) a second after it, and how many lines
# Velmora logged. Runs in a private X server and session.
# Usage: bench/settings-damage.sh [MiB, default 100] [path/to/velmora]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-100}
program=$(realpath "${2:-$root/build/velmora}")
if [[ -z ${VELMORA_BENCH_INNER:-} ]]; then
  export VELMORA_BENCH_INNER=1
  exec "$root/tests/support/run-in-session.sh" "$0" "$mib" "$program" \
    2> >(grep -v '^dbus-daemon' >&2)
fi

work=$HOME/run
mkdir -p "$work" "$XDG_CONFIG_HOME/velmora"
conf=$XDG_CONFIG_HOME/velmora/velmora.conf
perl -e 'print "[General]\n", "k=\xE9\n" x ($ARGV[0] * 1024 * 1024 / 4)' "$mib" >"$conf"
echo "settings file: $(du -m "$conf" | cut -f1) MiB, $(wc -l <"$conf") lines"

start_ns=$(date +%s%N)
# Perl, not mawk: mawk holds back the last lines read from a pipe until it is full.
"$program" > >(STAMP=$work/launched COUNT=$work/count perl -ne '
  if (!$seen && /App launched\./) { $seen = 1; system("date +%s%N > $ENV{STAMP}") }
  END { open(my $f, ">", $ENV{COUNT}); print $f "$.\n" }') 2>&1 &
pid=$!
for _ in $(seq 1 6000); do
  [[ -s $work/launched ]] && break
  sleep 0.1
done
[[ -s $work/launched ]] || { echo "Velmora did not launch within 600 s" >&2; exit 1; }
sleep 1
peak_kib=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
kill -TERM "$pid"
wait 2>/dev/null || true
for _ in $(seq 1 100); do [[ -s $work/count ]] && break; sleep 0.1; done
echo "App launched after $((($(cat "$work/launched") - start_ns) / 1000000)) ms;" \
  "peak RSS $((peak_kib / 1024)) MiB; $(cat "$work/count") lines logged"
