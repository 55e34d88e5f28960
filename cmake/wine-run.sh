#!/bin/sh
# Runs a Windows program under Wine in the build folder's own prefix. The first caller starts a
# lingering wineserver and Wine's helper services with detached standard streams, so that no
# helper holds a test's output pipe open.
: "${WINEPREFIX:=${ZARVO_WINEPREFIX:-}}"
if [ -z "$WINEPREFIX" ]; then
  # Derive the prefix from the program's build folder: <build>/wineprefix.
  dir=$(cd "$(dirname "$1")" 2>/dev/null && pwd)
  while [ -n "$dir" ] && [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ -f "$dir/CMakeCache.txt" ] || { echo "wine-run.sh: set WINEPREFIX" >&2; exit 125; }
  WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export LANG="${LANG:-C.UTF-8}"
case "$LANG" in *UTF-8*|*utf8*) ;; *) export LANG=C.UTF-8 ;; esac
WINEBIN=/usr/lib/wine
mkdir -p "$WINEPREFIX"
(
  flock 9
  if "$WINEBIN/wineserver" -p"${WINE_LINGER_S:-30}" </dev/null >/dev/null 2>&1 9>&-; then
    if [ ! -f "$WINEPREFIX/.zarvo-ready" ]; then
      "$WINEBIN/wine64" wineboot -i </dev/null >/dev/null 2>&1 9>&-
      "$WINEBIN/wine64" winecfg /v win10 </dev/null >/dev/null 2>&1 9>&-
      touch "$WINEPREFIX/.zarvo-ready"
    fi
    "$WINEBIN/wine64" sc query plugplay </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX/.wine-run.lock"
exec "$WINEBIN/wine64" "$@"
