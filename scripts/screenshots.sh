#!/usr/bin/env bash
# Takes the documentation's screenshots under a private Xvfb: the design-time face (and the About box),
# written by the tests themselves, converted to PNG into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset i686 >/dev/null
cmake --build --preset i686
root=$PWD
dir=$root/build/i686/shots-wine
out=$root/build/i686/shots
mkdir -p "$out" docs
trap '"$root/scripts/test_prefix.sh" down "$dir" win32' EXIT
scripts/test_prefix.sh up "$dir" win32 --xvfb --register build/i686/bin/ZorvaneLib.ocx
ZV_SCREENSHOT_DIR="Z:${out//\//\\}" scripts/wine_run.sh win32 "$dir" build/i686/bin/zorvane_tests.exe \
  --gtest_filter='container.in_place*:about*'
for shot in "$out"/*.bmp; do
  convert "$shot" "docs/$(basename "${shot%.bmp}").png"
  echo "docs/$(basename "${shot%.bmp}").png"
done
