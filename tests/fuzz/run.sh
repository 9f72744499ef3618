#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a while against a copy of its
# seed corpus: tests/fuzz/run.sh [seconds-per-target] (default 4, enough for CI; a person might
# give 600). Fails on any crash, leak, timeout or sanitizer report. Skips when clang or libFuzzer
# is missing. Set VELMORA_FUZZ_BUILD to build elsewhere than build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-4}
build=${VELMORA_FUZZ_BUILD:-build-fuzz}
mkdir -p "$build"

if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer - -o "$build/probe" 2>/dev/null; then
  echo "fuzz: no clang++ that links libFuzzer (packages clang, libclang-rt-dev); skipped"
  exit 0
fi
if ! { cmake -S tests/fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ &&
  cmake --build "$build" -j2; } >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log"
  echo "fuzz: the build failed; see $build/build.log"
  exit 1
fi

# Inputs longer than a target's inputs need only slow it down.
declare -A max_len=([url]=512 [version]=1024 [unicode]=1024)
failed=0
for name in wire url version unicode settings service instance selection offer portal https_frames; do
  scratch=$build/run/$name
  rm -rf "$scratch"
  mkdir -p "$scratch/corpus"
  cp tests/fuzz/corpus/"$name"/* "$scratch/corpus/"
  if "$build/fuzz_$name" -max_total_time="$seconds" -max_len="${max_len[$name]:-4096}" \
    -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 -artifact_prefix="$scratch/" \
    "$scratch/corpus" >"$scratch/log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$scratch/log")
    echo "fuzz: $name ok, $runs runs ($rate/s)"
  else
    failed=1
    tail -n 40 "$scratch/log"
    echo "fuzz: $name FAILED; the input and the log are in $scratch"
  fi
done
exit "$failed"
