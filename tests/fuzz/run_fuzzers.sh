#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time from its seed corpus (in a copy, so
# the repository's corpus stays small). Prints the executions of each; a crash fails the run and
# leaves its input under build/host-fuzz/crashes/.
# Usage: run_fuzzers.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
cmake --preset host-fuzz >/dev/null
cmake --build --preset host-fuzz
out=build/host-fuzz
mkdir -p "$out/crashes"
ran=0
# targets.txt: a target's name, then its own libFuzzer options (comments and blank lines aside).
while read -r -a fields; do
  target=${fields[0]}
  options=("${fields[@]:1}")
  work="$out/corpus-$target"
  rm -rf "$work" && mkdir -p "$work"
  cp tests/fuzz/corpus/$target/* "$work/" 2>/dev/null || true
  log="$out/fuzz-$target.log"
  if ! "$out/tests/fuzz/fuzz_$target" -max_total_time="$seconds" "${options[@]}" -rss_limit_mb=2048 \
        -artifact_prefix="$out/crashes/$target-" -print_final_stats=1 "$work" </dev/null >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz_$target: FAILED (input in $out/crashes/)" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz_$target: ${runs:-?} executions in ${seconds}s, no crash"
  ran=$((ran + 1))
done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' tests/fuzz/targets.txt)
if [ "$ran" -eq 0 ]; then
  echo "tests/fuzz/targets.txt names no fuzz target" >&2
  exit 1
fi
