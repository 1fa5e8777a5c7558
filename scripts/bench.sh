#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs the call-cost and capture benchmarks of
# each in a throwaway Wine prefix with its own X server.
#   usage: scripts/bench.sh [passes of calls] [rounds of captures]
# What is compared runs in interleaved rounds; each figure is the median of its rounds with their interquartile
# range. The calls run in passes of 60 rounds each, spread over the run.
# The 32-bit build runs inside scripts/with_wine32.sh: by qemu-user, its timings are the emulator's.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
[ -n "${ZV_WINE32_ARCH:-}" ] || exec scripts/with_wine32.sh scripts/bench.sh "$@"
root=$PWD
# Each architecture's prefix (its wineserver, X server and services) and the benchmarks run on one CPU: a call that
# waits for the wineserver then costs a switch on that CPU, not the wake-up of another one, which takes as long as
# that CPU has been idle.
pin=()
if command -v taskset >/dev/null && [ "$(nproc)" -gt 1 ]; then
  pin=(taskset -c "$(($(nproc) - 1))")
fi
call_passes=${1:-12} capture_rounds=${2:-61}
for preset in i686 x86_64; do
  arch=win64
  [ "$preset" = i686 ] && arch=$ZV_WINE32_ARCH
  if [ "$arch" = none ]; then
    echo "bench: no 32-bit program runs here; 32-bit measurements skipped"
    echo
    continue
  fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target zorvane_bench zorvane_capture_bench
  dir=$root/build/$preset/bench-wine
  trap '"$root/scripts/test_prefix.sh" down "$dir" '"$arch" EXIT
  "${pin[@]}" scripts/test_prefix.sh up "$dir" "$arch" --xvfb >/dev/null
  "${pin[@]}" scripts/wine_run.sh "$arch" "$dir" "build/$preset/bin/zorvane_bench.exe" "$call_passes"
  echo
  "${pin[@]}" scripts/wine_run.sh "$arch" "$dir" "build/$preset/bin/zorvane_capture_bench.exe" "$capture_rounds"
  scripts/test_prefix.sh down "$dir" "$arch"
  trap - EXIT
  echo
done
