#!/usr/bin/env bash
# A published setup must be rebuildable from its source on another machine: two separate copies
# of the source, as two release engineers would have them (different folder names and lengths,
# every file with other times, another umask, time zone and locale), each built clean, must give
# the same zarvo-setup.exe byte for byte.
# Usage: reproducible_test.sh <source dir> <scratch dir>
set -euo pipefail
src=$(cd "$1" && pwd)
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)

trees=("$scratch/a" "$scratch/second-copy-of-the-source-in-a-folder-with-a-much-longer-name")
umasks=(022 077)
zones=(UTC Pacific/Kiritimati)
locales=(C.UTF-8 C)
# Older than any commit, so that a packer which merely clamps file times to the commit's would
# still see the checkout's times.
touched=2001-02-03T04:05:06Z
times=("file times as they came" "every file touched to $touched")

# Same bytes from any clone: a clone of the committed source, or a copy of the folder when it is
# not a git checkout (its build folders and this scratch folder left out).
if commit=$(git -C "$src" rev-parse --verify -q HEAD 2>/dev/null); then
  what="two clones of $commit"
  if [ -n "$(git -C "$src" status --porcelain --untracked-files=no)" ]; then
    echo "note: uncommitted changes in $src are not part of this comparison"
  fi
else
  commit=
  what="two copies of $src (not a git checkout)"
fi
copy_source() {
  if [ -n "$commit" ]; then
    git clone -q --no-hardlinks --no-checkout "$src" "$1"
    git -C "$1" checkout -q --detach "$commit"
  else
    mkdir "$1"
    local skip=(--exclude=./build)
    case "$scratch/" in "$src"/*) skip+=(--exclude="./${scratch#"$src"/}") ;; esac
    tar -C "$src" "${skip[@]}" -cf - . | tar -C "$1" -xf -
  fi
}

for i in 0 1; do
  tree=${trees[$i]}
  log="$scratch/build-$i.log"
  (
    umask "${umasks[$i]}"
    export TZ=${zones[$i]} LC_ALL=${locales[$i]}
    copy_source "$tree"
    if [ "$i" = 1 ]; then
      find "$tree" -exec touch -h -d "$touched" {} +
    fi
    cmake -S "$tree" -B "$tree/build" -G Ninja --toolchain "$tree/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DZARVO_BUILD_TESTS=OFF
    cmake --build "$tree/build" --target zarvo-setup
  ) >"$log" 2>&1 || { cat "$log" >&2; echo "building in ${trees[$i]} failed" >&2; exit 1; }
done

echo "built $what, each clean with the windows toolchain:"
for i in 0 1; do
  echo "  ${trees[$i]}: umask ${umasks[$i]}, TZ=${zones[$i]}, LC_ALL=${locales[$i]}, ${times[$i]}"
done
a="${trees[0]}/build/zarvo-setup.exe"
b="${trees[1]}/build/zarvo-setup.exe"
if cmp -s "$a" "$b"; then
  echo "zarvo-setup.exe identical: $(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -d' ' -f1)"
  rm -rf "$scratch"
  exit 0
fi
echo "zarvo-setup.exe differs ($(stat -c %s "$a") and $(stat -c %s "$b") bytes);" \
  "first differing bytes (1-based offset, then both bytes in octal):" >&2
cmp -l "$a" "$b" | head -n 20 >&2 || true
echo "sections (file offsets in column 6):" >&2
x86_64-w64-mingw32-objdump -h "$a" | sed -n '/^Idx/,$p' | grep -v '^ *CONTENTS\|^ *ALLOC' >&2
echo "both trees are kept in $scratch" >&2
exit 1
