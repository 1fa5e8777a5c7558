#!/usr/bin/env bash
# Installs what is missing, builds the OCX, registers it in a private Wine prefix and runs examples/demo.vbs:
# the 32-bit OCX under 32-bit cscript (inside scripts/with_wine32.sh), or the 64-bit pair where no 32-bit
# program runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
[ -n "${ZV_WINE32_ARCH:-}" ] || exec scripts/with_wine32.sh scripts/demo.sh "$@"
preset=i686 arch=$ZV_WINE32_ARCH
if [ "$arch" = none ]; then
  echo "demo: no 32-bit program runs here; running the 64-bit OCX instead" >&2
  preset=x86_64 arch=win64
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target zorvane  # the OCX alone: no tests, no benchmarks
root=$PWD
dir=$root/build/$preset/demo-wine
trap '"$root/scripts/test_prefix.sh" down "$dir" '"$arch" EXIT
scripts/test_prefix.sh up "$dir" "$arch" --register "build/$preset/bin/ZorvaneLib.ocx"
# Wine's cscript prints nothing and exits 0 on a script error: the demo's last line tells that it ran to the end.
output=$(cd examples && ../scripts/wine_run.sh "$arch" "$dir" cscript //nologo demo.vbs) || status=$?
printf '%s\n' "$output"
if [ "${status:-0}" -ne 0 ] || ! grep -q '^Processor: ' <<<"$output"; then
  echo "demo: FAILED: examples/demo.vbs stopped before its last line (exit status ${status:-0})" >&2
  exit 1
fi
echo "demo: done"
