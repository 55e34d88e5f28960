#!/usr/bin/env bash
# Builds a static libzip for MinGW-w64 from Debian's own source package, against Debian's
# MinGW zlib. Usage: build-libzip-mingw.sh <work dir> <toolchain file>. Installs into
# <work dir>/install; does nothing when that is already there.
set -euo pipefail

# The source this build was written and checked against. The setup's bytes depend on it, so
# another version is refused rather than built; cmake/libzip-windows.cmake names the cache
# folder after the version, so a new pin builds afresh.
libzip_version=1.7.3-1
libzip_tarball=libzip_1.7.3.orig.tar.xz
libzip_sha256=a60473ffdb7b4260c08bfa19c2ccea0438edac11193c3afbbb1f17fbcf6c6132

here=$(cd "$(dirname "$0")" && pwd)
work=$1
toolchain=$2
[ -f "$work/install/lib/libzip.a" ] && exit 0
mkdir -p "$work"
cd "$work"
"$here/fetch-debian-source.sh" libzip "$libzip_version" "$libzip_tarball" "$libzip_sha256" \
  "scripts/$(basename "$0")"
cmake -S src -B build -G Ninja -Wno-dev \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$work/install" \
  -DCMAKE_C_FLAGS="-Wno-error=incompatible-pointer-types -ffile-prefix-map=$work=." \
  -DBUILD_SHARED_LIBS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
  -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF \
  -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include \
  >configure.log
cmake --build build >build.log
cmake --install build >install.log
