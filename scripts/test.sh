#!/usr/bin/env bash
# Everything from a fresh machine: the packages, both lanes built, every test of both lanes run.
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=C.UTF-8
./scripts/bootstrap.sh
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
# The two product lanes, then the host suite again under AddressSanitizer and UBSan.
for lane in host windows host-sanitize; do
  echo "== $lane =="
  cmake --preset "$lane" >/dev/null
  cmake --build --preset "$lane"
  ctest --preset "$lane" | tee -a "$summary"
done
# A bounded run of every fuzz target from its seed corpus.
echo "== fuzz =="
tests/fuzz/run_fuzzers.sh "${ZARVO_FUZZ_SECONDS:-60}" | tee -a "$summary"
# One closing line over everything (any failure has already stopped the script).
passed=0
for count in $(sed -n 's/.* tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "$summary"); do
  passed=$((passed + count))
done
skipped=$(grep -c '^[[:space:]]*[0-9]* - .* (Skipped)$' "$summary" || true)
fuzzed=$(grep -c ', no crash$' "$summary" || true)
echo "$((passed - skipped + fuzzed)) passed, 0 failed, $skipped skipped"
