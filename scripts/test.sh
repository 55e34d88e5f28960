#!/usr/bin/env bash
# Everything from a fresh machine: the packages, both lanes built, every test of both lanes run.
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=C.UTF-8
./scripts/bootstrap.sh
# The two product lanes, then the host suite again under AddressSanitizer and UBSan.
for lane in host windows host-sanitize; do
  echo "== $lane =="
  cmake --preset "$lane" >/dev/null
  cmake --build --preset "$lane"
  ctest --preset "$lane"
done
# A bounded run of every fuzz target from its seed corpus.
echo "== fuzz =="
tests/fuzz/run_fuzzers.sh "${ZARVO_FUZZ_SECONDS:-60}"
