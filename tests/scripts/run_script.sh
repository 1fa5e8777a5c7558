#!/usr/bin/env bash
# Runs one VBScript or JScript file with Wine's cscript and judges it by what it printed:
# every check prints "ok ..." or "FAIL ...", and the last line must be "done".
set -uo pipefail
arch=$1 wine_dir=$2 script=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$(dirname "$script")"
# cscript reads an argument that starts with "/" as a switch: pass the script by its relative name.
output=$(timeout 50 "$here/../../scripts/wine_run.sh" "$arch" "$wine_dir" cscript //nologo "$(basename "$script")" 2>&1 | tr -d '\r')
status=$?
printf '%s\n' "$output"
if [ $status -ne 0 ]; then echo "cscript exited with $status"; exit 1; fi
if grep -q '^FAIL' <<<"$output"; then exit 1; fi
if [ "$(tail -n 1 <<<"$output")" != "done" ]; then echo "the script did not run to its end"; exit 1; fi
exit 0
