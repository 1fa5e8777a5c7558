#!/usr/bin/env bash
# The 32-bit and 64-bit OCX registered side by side in one 64-bit prefix: both create, and unregistering
# one leaves the other working.   usage: side_by_side.sh <wine-dir> <ocx32> <ocx64>
set -uo pipefail
dir=$1 ocx32=$2 ocx64=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
[ -f "$ocx32" ] || { echo "FAIL no 32-bit OCX at $ocx32: build the i686 preset first (scripts/test.sh does)"; exit 1; }
[ -f "$ocx64" ] || { echo "FAIL no 64-bit OCX at $ocx64"; exit 1; }
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "SKIP no 32-bit program runs here, so no 32-bit host can be started (scripts/wine32_route.sh says why)"
  exit 77
fi
trap '"$scripts/test_prefix.sh" down "$dir" win64' EXIT
"$scripts/test_prefix.sh" up "$dir" win64 --register "$ocx64" || exit 1
export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
win() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); printf 'Z:%s' "${p//\//\\}"; }
wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64
status=0
check() { # <what> <expected: ok|fails> <loader>
  local out
  out=$(cd "$here" && timeout 50 "$3" cscript //nologo create.vbs 2>&1 | tr -d '\r')
  local seen=fails
  [ "$out" = created ] && seen=ok
  if [ "$seen" = "$2" ]; then
    echo "ok $1"
  else
    echo "FAIL $1: $out"; status=1
  fi
}
"$wine32" regsvr32 /s "$(win "$ocx32")" || { echo "FAIL registering the 32-bit OCX"; exit 1; }
check "32-bit host creates" ok "$wine32"
check "64-bit host creates" ok "$wine64"
"$wine64" regsvr32 /s /u "$(win "$ocx64")"
check "32-bit host still creates after the 64-bit OCX is unregistered" ok "$wine32"
check "64-bit host no longer creates" fails "$wine64"
"$wine64" regsvr32 /s "$(win "$ocx64")"
"$wine32" regsvr32 /s /u "$(win "$ocx32")"
check "64-bit host still creates after the 32-bit OCX is unregistered" ok "$wine64"
check "32-bit host no longer creates" fails "$wine32"
"$wine64" regsvr32 /s /u "$(win "$ocx64")"
check "nothing creates once both are unregistered" fails "$wine64"
exit $status
