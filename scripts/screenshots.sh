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
rm -f "$out"/*.bmp
ZV_SCREENSHOT_DIR="Z:${out//\//\\}" scripts/wine_run.sh "$arch" "$dir" "build/$preset/bin/zorvane_tests.exe" \
  --gtest_filter='container.in_place*:about*'
# A picture of one colour is a window captured before it was painted: refused, and docs/ keeps what it has.
for name in face about; do
  shot=$out/$name.bmp
  [ -f "$shot" ] || { echo "screenshots: $name.bmp was not written" >&2; exit 1; }
  colours=$(identify -format '%k' "$shot")
  if [ "$colours" -le 1 ]; then
    echo "screenshots: $name.bmp is a single colour: not used" >&2
    exit 1
  fi
  convert "$shot" "docs/$name.png"
  echo "docs/$name.png ($colours colours)"
done
