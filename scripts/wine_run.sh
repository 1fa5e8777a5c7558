#!/usr/bin/env bash
# Runs one Windows program under Wine in the build's private prefix (the CMake/CTest emulator).
# usage: wine_run.sh <win32|win64|wow64> <wine-dir> <program.exe> [args...]
#   win32: 32-bit programs in a 32-bit prefix; win64: 64-bit programs in a 64-bit prefix; wow64: 32-bit programs
#   in a 64-bit prefix (how qemu-user runs them, see with_wine32.sh).
set -euo pipefail
arch=$1 wine_dir=$2
shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

case "$arch" in
  win32) loader=/usr/lib/wine/wine WINEARCH=win32 ;;
  win64) loader=/usr/lib/wine/wine64 WINEARCH=win64 ;;
  wow64) loader=/usr/lib/wine/wine WINEARCH=win64 ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
export WINEPREFIX="$wine_dir/prefix" WINEARCH
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# No prefix yet, or one of the other architecture (left by a run of the other route): a fresh one.
grep -qsx "#arch=$WINEARCH" "$WINEPREFIX/system.reg" || "$here/test_prefix.sh" make "$wine_dir" "$arch"
if [ -f "$wine_dir/display" ]; then
  export DISPLAY=":$(cat "$wine_dir/display")"
else
  unset DISPLAY
fi
exec "$loader" "$@"
