#!/usr/bin/env bash
# Registration leaves the registry as it found it: regsvr32 and regsvr32 /u, twice and once, /u alone, and
# the per-user /n /i:user pair, compared with exports of the classes keys taken before.
#   usage: registration_roundtrip.sh <wine-dir> <win32|win64|wow64> <ocx>
set -uo pipefail
dir=$1 arch=$2 ocx=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
[ -f "$ocx" ] || { echo "FAIL no OCX at $ocx"; exit 1; }
trap '"$scripts/test_prefix.sh" down "$dir" "$arch"' EXIT
"$scripts/test_prefix.sh" up "$dir" "$arch" || exit 1
dir=$(cd "$dir" && pwd)
ocx_win=$(p=$(cd "$(dirname "$ocx")" && pwd)/$(basename "$ocx"); printf 'Z:%s' "${p//\//\\}")
run() { "$scripts/wine_run.sh" "$arch" "$dir" "$@" 2>/dev/null; }

machine='HKEY_LOCAL_MACHINE\Software\Classes'
machine32='HKEY_LOCAL_MACHINE\Software\Wow6432Node\Classes'
user='HKEY_CURRENT_USER\Software\Classes'
# In a 64-bit prefix the 64-bit regedit exports both views of the machine's classes. The OCX registers its class,
# type library and interface into its own view (a 32-bit OCX: the 32-bit one) and its ProgID into the key both
# views share; the other view must not get the class.
keys=("$machine" "$user")
exporter=$arch own=$machine other=""
case "$arch" in
  win64) keys+=("$machine32"); other=$machine32 ;;
  wow64) keys+=("$machine32"); exporter=win64 own=$machine32 other=$machine ;;
esac

# One text of every classes key, UTF-8 with Unix line ends; a key that does not exist is one line saying so
# (a fresh prefix has no HKEY_CURRENT_USER\Software\Classes). Nothing is filtered out.
snapshot() { # <name>
  local out="$dir/$1.reg" i
  for i in "${!keys[@]}"; do
    rm -f "$dir/export$i.reg"
    "$scripts/wine_run.sh" "$exporter" "$dir" regedit /E "Z:${dir//\//\\}\\export$i.reg" "${keys[$i]}" >/dev/null 2>&1 &
  done
  wait
  : >"$out"
  for i in "${!keys[@]}"; do
    if [ -f "$dir/export$i.reg" ]; then
      iconv -f UTF-16LE -t UTF-8 "$dir/export$i.reg" | tr -d '\r' | sed -e '1s/^\xEF\xBB\xBF//' >>"$out"
    else
      echo "; no key ${keys[$i]}" >>"$out"
    fi
    rm -f "$dir/export$i.reg"
  done
}

status=0
ok() { echo "ok $1"; }
fail() { echo "FAIL $1"; status=1; }
same_as_before() { # <what> <name>
  if diff -u "$dir/before.reg" "$dir/$2.reg" >"$dir/$2.diff"; then
    ok "$1: the classes keys are as before"
  else
    fail "$1: the classes keys differ from before"
    head -40 "$dir/$2.diff"
  fi
}
regsvr32() { # <what> <expected exit code> <args...>
  local what=$1 expected=$2
  shift 2
  run regsvr32 "$@" "$ocx_win"
  local code=$?
  if [ "$code" = "$expected" ]; then ok "$what exits $code"; else fail "$what exits $code, not $expected"; fi
}
has() { # <name> <text>: a line added since before
  if grep -qiF -- "$2" "$dir/$1.reg" && ! grep -qiF -- "$2" "$dir/before.reg"; then
    ok "added: $2"
  else
    fail "not added: $2"
  fi
}

# The identifiers as the tests pin them.
published() { sed -n "s/^inline constexpr wchar_t $1\[\] = L\"\(.*\)\";\$/\1/p" "$here/../support/published.h"; }
clsid=$(published clsid_zorvane_text) libid=$(published libid_zorvane_text) iid=$(published iid_zorvane_text)
prog_id=$(published prog_id)
[ -n "$clsid" ] && [ -n "$libid" ] && [ -n "$iid" ] && [ -n "$prog_id" ] ||
  { echo "FAIL no identifiers in published.h"; exit 1; }

snapshot before
grep -qiF "$clsid" "$dir/before.reg" && fail "the fresh prefix already knows the class"

regsvr32 "regsvr32 /s" 0 /s
snapshot registered
has registered "[$own\\CLSID\\$clsid\\InprocServer32]"
has registered "[$machine\\$prog_id\\CLSID]"
has registered "[$own\\TypeLib\\$libid\\1.0]"
has registered "[$own\\Interface\\$iid]"
if [ -n "$other" ] && grep -qiF "[$other\\CLSID\\$clsid" "$dir/registered.reg"; then
  fail "the class was registered into the other view ($other)"
fi
regsvr32 "regsvr32 /u /s" 0 /u /s
snapshot unregistered
same_as_before "registered and unregistered" unregistered

regsvr32 "regsvr32 /s (first)" 0 /s
regsvr32 "regsvr32 /s (second)" 0 /s
regsvr32 "regsvr32 /u /s after two registrations" 0 /u /s
snapshot twice_once
same_as_before "registered twice, unregistered once" twice_once

regsvr32 "regsvr32 /u /s of an OCX never registered" 0 /u /s
snapshot never
same_as_before "unregistered without registering" never

regsvr32 "regsvr32 /u /n /i:user of an OCX never registered" 0 /u /s /n /i:user
snapshot never_user
same_as_before "unregistered for the user without registering" never_user

regsvr32 "regsvr32 /n /i:user" 0 /s /n /i:user
snapshot per_user
has per_user "[$user\\CLSID\\$clsid\\InprocServer32]"
has per_user "[$user\\$prog_id\\CLSID]"
grep -qiF "[$own\\CLSID\\$clsid" "$dir/per_user.reg" && fail "the per-user registration wrote into the machine's classes"
regsvr32 "regsvr32 /u /n /i:user" 0 /u /s /n /i:user
snapshot per_user_removed
same_as_before "per-user registered and unregistered" per_user_removed
# Two copies of the OCX: unregistering the one never registered leaves the other's registration as it is; once the
# registered file is gone, the copy's unregistration cleans up after it. For the machine and for the user.
same_as() { # <what> <name> <name>
  if diff -u "$dir/$2.reg" "$dir/$3.reg" >"$dir/$3.diff"; then ok "$1"; else fail "$1"; head -40 "$dir/$3.diff"; fi
}
copies=$dir/prefix/drive_c
mkdir -p "$copies/zv lib" "$copies/zv other"
cp "$ocx" "$copies/zv other/ZorvaneLib.ocx"
for mode in machine user; do
  flags=()
  [ "$mode" = user ] && flags=(/n /i:user)
  cp "$ocx" "$copies/zv lib/ZorvaneLib.ocx"
  ocx_win='C:\zv lib\ZorvaneLib.ocx' regsvr32 "$mode: regsvr32 of one copy" 0 /s "${flags[@]}"
  snapshot "copy_$mode"
  ocx_win='C:\zv other\ZorvaneLib.ocx' regsvr32 "$mode: regsvr32 /u of another copy" 0 /u /s "${flags[@]}"
  snapshot "other_copy_$mode"
  same_as "$mode: unregistering another copy leaves the registered one's keys" "copy_$mode" "other_copy_$mode"
  rm "$copies/zv lib/ZorvaneLib.ocx"
  ocx_win='C:\zv other\ZorvaneLib.ocx' regsvr32 "$mode: regsvr32 /u of a copy, the registered file gone" 0 /u /s "${flags[@]}"
  snapshot "gone_$mode"
  same_as_before "$mode: a copy's unregistration after the registered file went" "gone_$mode"
done
exit $status
