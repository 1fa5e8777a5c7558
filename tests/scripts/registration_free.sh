#!/usr/bin/env bash
# Registration-free use: in a fresh prefix where nothing is registered, a host whose manifest depends on
# the ZorvaneLib.sxs assembly creates the control from the OCX and manifest in its own folder.
# usage: registration_free.sh <win32|win64> <wine-dir> <bin-dir>
set -uo pipefail
arch=$1 dir=$2 bin=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
trap '"$scripts/test_prefix.sh" down "$dir" "$arch"' EXIT
"$scripts/test_prefix.sh" up "$dir" "$arch" || exit 1
# The prefix's own services start with the first program; started here, they do not inherit the pipe
# the probe's output is read from (and keep it open after the probe has ended).
"$scripts/wine_run.sh" "$arch" "$dir" cmd /c exit >/dev/null 2>&1
app=$dir/app
rm -rf "$app" && mkdir -p "$app"
cp "$bin/ZorvaneLib.ocx" "$bin/ZorvaneLib.sxs.manifest" "$bin/regfree_probe.exe" "$app/"
status=0
run_probe() { (cd "$app" && timeout 60 "$scripts/wine_run.sh" "$arch" "$dir" regfree_probe.exe 2>&1 | tr -d '\r'); }
out=$(run_probe)
if grep -q "created without registration" <<<"$out"; then
  echo "ok created from the manifest, nothing registered"
else
  echo "FAIL with the manifest:"; echo "$out"; status=1
fi
# Without the assembly's manifest the same host finds nothing: the class really came from the manifest.
rm "$app/ZorvaneLib.sxs.manifest"
out=$(run_probe)
if grep -q "created without registration" <<<"$out"; then
  echo "FAIL created without the manifest: something is registered"; status=1
else
  echo "ok without the manifest the class is unknown"
fi
exit $status
