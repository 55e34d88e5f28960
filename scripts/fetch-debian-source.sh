#!/usr/bin/env bash
# Fetches one pinned version of a Debian source package's upstream tarball into the current
# folder, checks its SHA-256 and unpacks it afresh into ./src. Another version on offer, or
# another checksum, stops the build rather than building what was not checked.
# Usage: fetch-debian-source.sh <package> <version> <tarball> <sha256> <the script holding the pin>
set -euo pipefail
package=$1
version=$2
tarball=$3
sha256=$4
pinned_in=$5

if [ ! -f "$tarball" ]; then
  offered=$(apt-cache showsrc "$package" 2>/dev/null | awk -v want="$package" '/^Package: /{p=$2} /^Version: /{if(p==want) print $2}' | sort -u)
  if [ -z "$offered" ]; then
    echo "apt offers no $package source package: run scripts/bootstrap.sh (it enables source packages)" >&2
    exit 1
  fi
  if ! grep -qxF "$version" <<<"$offered"; then
    echo "$package: this build is pinned to Debian's source $version, but apt offers" \
      "${offered//$'\n'/, }; check that source, then update the pin in $pinned_in" >&2
    exit 1
  fi
  apt-get source --download-only "$package=$version" >/dev/null 2>"apt-source.log" || {
    cat apt-source.log >&2
    echo "apt-get source $package=$version failed" >&2
    exit 1
  }
fi
actual=$(sha256sum "$tarball" | cut -d' ' -f1)
if [ "$actual" != "$sha256" ]; then
  # Set aside, so that the next run fetches it again, and kept for a look.
  mv -f "$tarball" "$tarball.rejected"
  echo "$package: $tarball has SHA-256 $actual, but $package $version's is $sha256;" \
    "refusing to build it (kept as $PWD/$tarball.rejected)" >&2
  exit 1
fi
rm -rf src && mkdir src
tar xf "$tarball" -C src --strip-components=1
