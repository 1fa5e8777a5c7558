#!/usr/bin/env bash
# Takes the documentation's screenshots under a private Xvfb: the design-time face (and the About box),
# written by the tests themselves, converted to PNG into docs/. Uses the 32-bit build (inside
# scripts/with_wine32.sh), or the 64-bit one where no 32-bit program runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
[ -n "${ZV_WINE32_ARCH:-}" ] || exec scripts/with_wine32.sh scripts/screenshots.sh "$@"
preset=i686 arch=$ZV_WINE32_ARCH
if [ "$arch" = none ]; then preset=x86_64 arch=win64; fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
root=$PWD
dir=$root/build/$preset/shots-wine
out=$root/build/$preset/shots
mkdir -p "$out" docs
trap '"$root/scripts/test_prefix.sh" down "$dir" '"$arch" EXIT
scripts/test_prefix.sh up "$dir" "$arch" --xvfb --register "build/$preset/bin/ZorvaneLib.ocx"
ZV_SCREENSHOT_DIR="Z:${out//\//\\}" scripts/wine_run.sh "$arch" "$dir" "build/$preset/bin/zorvane_tests.exe" \
  --gtest_filter='container.in_place*:about*'
for shot in "$out"/*.bmp; do
  convert "$shot" "docs/$(basename "${shot%.bmp}").png"
  echo "docs/$(basename "${shot%.bmp}").png"
done
