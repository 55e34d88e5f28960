#!/usr/bin/env bash
# Installs every Debian package both build lanes and the tests need, and enables source
# packages (the windows lane builds libzip and ISA-L from Debian's source). Idempotent: a second
# run installs nothing and changes nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git dpkg-dev xz-utils
  googletest libgtest-dev
  libzip-dev zlib1g-dev unicode-data libisal-dev nasm
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine64 wine
  python3 libarchive-tools unzip zip p7zip-full hyperfine time bsdextrautils
  clang-16 libclang-rt-16-dev libc++-16-dev libc++abi-16-dev osslsigncode openssl
  gcovr
)

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Source entries are derived from the machine's own binary entries, so no mirror is named here.
need_src=0
if ! grep -rqs '^Types: deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      | sudo_if_needed tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    sed -n -e 's/^deb /deb-src /p' /etc/apt/sources.list \
      | sudo_if_needed tee /etc/apt/sources.list.d/debian-src.list >/dev/null
  fi
  need_src=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_src -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  sudo_if_needed apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  sudo_if_needed apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
