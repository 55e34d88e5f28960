#!/usr/bin/env bash
# Extraction speed on the host lane: the whole setup run extracting a payload shaped like the
# as-built one, against bsdtar, unzip, 7z and two minimal references (inflate + CRC-32 + write,
# with zlib and with ISA-L: the floor).
# Prints each median time, its ratio to the reference, and the setup's peak memory against the
# payload's size plus 16 MiB. The commands run in interleaved rounds (bench/measure.py).
#
# The setup ends right after extracting: there is no PowerShell here, so starting the installer
# fails at once, and with standard input at its end the closing prompt returns immediately.
#
# Usage: bench/run.sh            (BENCH_DIR=<folder> to keep the work elsewhere, BENCH_RUNS=<n>)
set -euo pipefail
export LANG=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
work=${BENCH_DIR:-$root/build/bench}
runs=${BENCH_RUNS:-7}
for tool in bsdtar unzip 7z /usr/bin/time cmake g++ python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
done
mkdir -p "$work"

payload=$work/payload.zip
if [ ! -f "$payload" ] || [ ! -d "$work/content" ]; then
  echo "Generating the payload (once; takes a few minutes)..." >&2
  rm -rf "$work/content"
  python3 "$root/bench/make_payload.py" "$work/content"
  python3 "$root/tools/pack_payload.py" "$work/content" "$payload"
fi

echo "Building the setup around it and the reference..." >&2
cmake -S "$root" -B "$work/setup-build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARVO_BUILD_TESTS=OFF \
  -DZARVO_SETUP_PAYLOAD="$payload" >/dev/null
cmake --build "$work/setup-build" --target zarvo-setup -j2 >/dev/null
setup=$work/setup-build/zarvo-setup
g++ -O2 -std=c++20 "$root/bench/reference.cpp" -lz -lisal -o "$work/reference"

out=$work/out  # every tool writes here
tmp=$work/tmp  # the setup's temporary directory; its work directory lands inside
prepare="rm -rf '$out' '$tmp' && mkdir -p '$out' '$tmp' && sync"

# One checked run first: the setup must have extracted every file exactly.
eval "$prepare"
TMPDIR=$tmp "$setup" </dev/null >"$work/setup.out" 2>"$work/setup.err" || true
extracted=$(find "$tmp" -mindepth 1 -maxdepth 1 -name 'zarvo-setup-*' | head -n1)
if [ -z "$extracted" ] || ! diff -r "$work/content" "$extracted" >/dev/null; then
  echo "bench: the setup did not extract the payload exactly; its output:" >&2
  cat "$work/setup.out" "$work/setup.err" >&2
  exit 1
fi
echo "Checked: the setup extracted all $(find "$extracted" -type f | wc -l) files exactly; it then said:" >&2
sed 's/^/  | /' "$work/setup.err" >&2

python3 "$root/bench/measure.py" "$runs" "$out" "$tmp" "$payload" "$setup" "$work/reference"

# Peak memory of one setup run: the payload is file-backed in the image, so its pages count once
# touched; the heap must stay small.
eval "$prepare"
TMPDIR=$tmp /usr/bin/time -v "$setup" </dev/null >/dev/null 2>"$work/time.txt" || true
eval "rm -rf '$out' '$tmp'"
peak=$(( $(sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$work/time.txt") * 1024 ))
size=$(stat -c %s "$payload")
budget=$(( size + 16 * 1024 * 1024 ))
verdict=$([ "$peak" -le "$budget" ] && echo within || echo OVER)
echo "payload: $size bytes; setup peak memory (max RSS): $peak bytes; payload + 16 MiB = $budget bytes: $verdict"
