#!/usr/bin/env bash
# Coverage of src/ in both lanes: builds the host-coverage and windows-coverage presets (gcov
# counters, unoptimised), runs each lane's whole test suite (end-to-end runs of the built setup
# included; not the reproducibility check, which builds release images of its own), and prints
# line and branch coverage per layer and backend for each lane and for both lanes together.
# Writes build/coverage/: the gcovr tracefiles (<lane>.json, both.json, and *-counted.json as
# counted), <name>-summary.json, each lane's test log and index.html (with a page per file).
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=C.UTF-8
./scripts/bootstrap.sh
# Counters land beside the objects (the windows lane's too: Wine takes the Linux path that the
# objects name for one on Z:); a relocation asked for elsewhere would hide them from gcov.
unset GCOV_PREFIX GCOV_PREFIX_STRIP

out=build/coverage
rm -rf "$out"
mkdir -p "$out"
# Branches the compiler adds on lines with no code of their own are not counted, nor (dropped
# after merging, coverage_report.py drop-throw) those only an exception thrown by a called
# function takes.
filters=(--root . --filter 'src/' --exclude-unreachable-branches)

for lane in host windows; do
  preset=$lane-coverage
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # Counters of an earlier run would add to this one's.
  find "build/$preset" -name '*.gcda' -delete
  ctest --preset "$preset" >"$out/$lane-ctest.log" 2>&1 || { tail -n 40 "$out/$lane-ctest.log"; exit 1; }
  grep -E '^[0-9]+% tests passed' "$out/$lane-ctest.log"
  gcov=gcov
  if [ "$lane" = windows ]; then
    gcov=x86_64-w64-mingw32-gcov
    # The end-to-end runs must have recorded: each setup's own main.cpp counts only there.
    if [ -z "$(find "build/$preset/tests/e2e" -name 'main.cpp.gcda' -print -quit)" ]; then
      echo "coverage.sh: the end-to-end runs of the windows lane wrote no counters" >&2
      exit 1
    fi
  fi
  # Only this lane's folder is searched, and not the Wine prefix in it, whose drive Z: is a link
  # to the Linux root and leads to every other build's counters.
  gcovr "${filters[@]}" --exclude-directories '.*/wineprefix$' --gcov-executable "$gcov" -j 2 \
    --json "$out/$lane.json" "build/$preset"
done

# Both lanes in one tracefile, merged by gcovr; then each report without exception branches.
python3 scripts/coverage_report.py union "$out/lanes.json" host="$out/host.json" windows="$out/windows.json"
gcovr --root . --add-tracefile "$out/lanes.json" --json "$out/both.json"
for name in host windows both; do
  python3 scripts/coverage_report.py drop-throw "$out/$name.json" "$out/$name-counted.json"
  gcovr --root . --add-tracefile "$out/$name-counted.json" --json-summary "$out/$name-summary.json"
done
gcovr --root . --add-tracefile "$out/both-counted.json" \
  --html-details "$out/index.html" --html-title "zarvo-setup: src/ in both lanes"
echo
python3 scripts/coverage_report.py table host="$out/host-summary.json" windows="$out/windows-summary.json" \
  "both lanes=$out/both-summary.json"
echo
echo "report: $out/index.html"
