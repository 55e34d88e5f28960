#!/usr/bin/env bash
# Builds a static libzip for MinGW-w64 from Debian's own source package, against Debian's
# MinGW zlib. Usage: build-libzip-mingw.sh <work dir> <toolchain file>. Installs into
# <work dir>/install; does nothing when that is already there.
set -euo pipefail
work=$1
toolchain=$2
[ -f "$work/install/lib/libzip.a" ] && exit 0
mkdir -p "$work"
cd "$work"
if ! ls libzip_*.orig.tar.* >/dev/null 2>&1; then
  apt-get source --download-only libzip >/dev/null 2>apt-source.log || {
    cat apt-source.log >&2
    echo "apt-get source libzip failed: run scripts/bootstrap.sh (it enables source packages)" >&2
    exit 1
  }
fi
rm -rf src && mkdir src
tar xf libzip_*.orig.tar.* -C src --strip-components=1
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
