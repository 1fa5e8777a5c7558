#!/usr/bin/env bash
# A capture written from VBScript, read back by ImageMagick: a BMP of the screen's size.
# usage: capture_file.sh <win32|win64> <wine-dir> <output folder>
set -uo pipefail
arch=$1 wine_dir=$2 out=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$out"
file=$(cd "$out" && pwd)/capture-$arch.bmp
png=$(cd "$out" && pwd)/capture-$arch.png
rm -f "$file" "$png"
winfile="Z:${file//\//\\}"
winpng="Z:${png//\//\\}"
output=$(cd "$here" && timeout 50 "$here/../../scripts/wine_run.sh" "$arch" "$wine_dir" cscript //nologo capture.vbs "$winfile" "$winpng" 2>&1 | tr -d '\r')
printf '%s\n' "$output"
grep -q '^FAIL' <<<"$output" && exit 1
[ "$(tail -n 1 <<<"$output")" = done ] || { echo "the script did not run to its end"; exit 1; }
[ -f "$file" ] || { echo "FAIL no file written"; exit 1; }
seen=$(identify -format '%m %w %h' "$file" 2>&1) || { echo "FAIL ImageMagick cannot read it: $seen"; exit 1; }
echo "ImageMagick reads: $seen"
expected="BMP3 1024 768"  # a Windows 3 style BMP of the private Xvfb's screen
[ "$seen" = "$expected" ] || { echo "FAIL expected $expected"; exit 1; }
seen=$(identify -format '%m %w %h' "$png" 2>&1) || { echo "FAIL ImageMagick cannot read the PNG: $seen"; exit 1; }
echo "ImageMagick reads: $seen"
[ "$seen" = "PNG 1024 768" ] || { echo "FAIL expected PNG 1024 768"; exit 1; }
rm -f "$file" "$png"
echo ok
