#!/usr/bin/env bash
# Runs one Windows program under Wine in the build's private prefix (the CMake/CTest emulator).
# usage: wine_run.sh <win32|win64> <wine-dir> <program.exe> [args...]
set -euo pipefail
arch=$1 wine_dir=$2
shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

export WINEPREFIX="$wine_dir/prefix" WINEARCH="$arch"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
[ -d "$WINEPREFIX" ] || "$here/test_prefix.sh" make "$wine_dir" "$arch"
if [ -f "$wine_dir/display" ]; then
  export DISPLAY=":$(cat "$wine_dir/display")"
else
  unset DISPLAY
fi
if [ "$arch" = win64 ]; then loader=/usr/lib/wine/wine64; else loader=/usr/lib/wine/wine; fi
exec "$loader" "$@"
