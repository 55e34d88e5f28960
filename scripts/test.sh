#!/usr/bin/env bash
# Everything from a fresh machine: the packages, both lanes built, every test of both lanes run.
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=C.UTF-8
./scripts/bootstrap.sh
for lane in host windows; do
  echo "== $lane lane =="
  cmake --preset "$lane" >/dev/null
  cmake --build --preset "$lane"
  ctest --preset "$lane"
done
