#!/usr/bin/env bash
# Two clean builds of the setup, in two different folders, must give the same bytes.
# Usage: reproducible_test.sh <source dir> <scratch dir>
set -euo pipefail
src=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
for tree in first second-with-a-longer-name; do
  cmake -S "$src" -B "$scratch/$tree" -G Ninja --toolchain "$src/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZARVO_BUILD_TESTS=OFF >"$scratch/$tree.log" 2>&1
  cmake --build "$scratch/$tree" --target zarvo-setup >>"$scratch/$tree.log" 2>&1
done
a="$scratch/first/zarvo-setup.exe"
b="$scratch/second-with-a-longer-name/zarvo-setup.exe"
if cmp -s "$a" "$b"; then
  echo "identical: $(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -d' ' -f1)"
  rm -rf "$scratch"
  exit 0
fi
echo "the two builds differ:" >&2
cmp -l "$a" "$b" | head -n 20 >&2
exit 1
