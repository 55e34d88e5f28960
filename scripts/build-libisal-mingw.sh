#!/usr/bin/env bash
# Builds a static ISA-L (the inflater on the extraction path) for MinGW-w64 from Debian's own
# source package, its assembly by Debian's nasm. Usage: build-libisal-mingw.sh <work dir>.
# Installs into <work dir>/install (lib/libisal.a, include/isa-l/*.h, laid out as Debian's
# libisal-dev); does nothing when that is already there.
set -euo pipefail

# The source this build was written and checked against. The setup's bytes depend on it, so
# another version is refused rather than built; cmake/libisal-windows.cmake names the cache
# folder after the version, so a new pin builds afresh.
libisal_version=2.30.0-5
libisal_tarball=libisal_2.30.0.orig.tar.xz
libisal_sha256=f363f1be3d657d5676cef5253ee2233e60116e2fa9c9de86881185bf81e0e4b8

here=$(cd "$(dirname "$0")" && pwd)
work=$1
[ -f "$work/install/lib/libisal.a" ] && exit 0
mkdir -p "$work"
cd "$work"
"$here/fetch-debian-source.sh" libisal "$libisal_version" "$libisal_tarball" "$libisal_sha256" \
  "scripts/$(basename "$0")"
# Debian's patches touch s390x only. nasm's debug records (DEBUG_nasm) and the work folder's
# name are kept out of the objects, so that two builds in two folders give the same bytes.
make -C src -f Makefile.unx -j"$(nproc)" arch=mingw AS=nasm DEBUG_nasm= \
  CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
  CFLAGS_mingw="-ffile-prefix-map=$work=." lib >build.log 2>&1 || {
  tail -n 30 build.log >&2
  echo "building libisal failed (whole log: $work/build.log)" >&2
  exit 1
}
mkdir -p install/lib install/include/isa-l
cp src/include/*.h install/include/isa-l/
cp src/bin/isa-l.a install/lib/libisal.a
