#!/usr/bin/env bash
# The examples: the script ones run under Wine's cscript; every example names only methods the control has.
# usage: examples.sh <win32|win64> <wine-dir>
set -uo pipefail
arch=$1 wine_dir=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
examples=$here/../../examples
status=0
for script in demo.vbs demo.js; do
  out=$(cd "$examples" && timeout 50 "$here/../../scripts/wine_run.sh" "$arch" "$wine_dir" cscript //nologo "$script" 2>&1 | tr -d '\r')
  if grep -qiE 'error|Microsoft VBScript|JScript runtime' <<<"$out" || [ -z "$out" ]; then
    echo "FAIL $script:"; echo "$out"; status=1
  else
    echo "ok $script ran ($(wc -l <<<"$out") lines)"
  fi
done
# The method names of the control, from the test's own table of its surface.
known=$(grep -oE '\{L"[A-Za-z]+", 0x6003' "$here/../support/surface.cpp" | sed -E 's/\{L"([A-Za-z]+)".*/\1/' | sort -u)
[ "$(wc -l <<<"$known")" -eq 57 ] || { echo "FAIL could not read the method table"; exit 1; }
known="$known"$'\n'ShowAbout
for file in "$examples"/*.vbs "$examples"/*.js "$examples"/*/*; do
  used=$(grep -oE '\bz(\.|->)[A-Za-z]+' "$file" | sed -E 's/^z(\.|->)//' | grep -vE '^(Release|Reserved)$' | sort -u)
  [ -n "$used" ] || { echo "FAIL $file uses no method"; status=1; continue; }
  for name in $used; do
    grep -qx "$name" <<<"$known" || { echo "FAIL $file: no method $name"; status=1; }
  done
  echo "ok $(basename "$file"): $(wc -w <<<"$used") methods, all known"
done
[ $status -eq 0 ] && echo done
exit $status
