#!/usr/bin/env bash
# Long runs of the hostile-caller suites in a throwaway prefix of their own (with a private Xvfb):
# the seeded IDispatch fuzzer, the soak of every harmless method, and (when asked) fault injection.
#
#   scripts/robustness.sh [preset] [fuzz calls] [soak calls per method] [seed] [fault random calls]
#   defaults: i686 1000000 10000 1 0; a count of 0 skips that suite. A fault count (100000 for the full run)
#   runs every import failing at each of its calls under every shape (zorvane_faults --all), then that many
#   shapes whose calls fail at random (--random <count> <seed>). Builds the preset's OCX and programs first;
#   the 32-bit build runs inside scripts/with_wine32.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-i686}
fuzz_calls=${2:-1000000}
soak_calls=${3:-10000}
seed=${4:-1}
fault_calls=${5:-0}
arch=win64
if [ "$preset" = i686 ]; then
  [ -n "${ZV_WINE32_ARCH:-}" ] || exec scripts/with_wine32.sh scripts/robustness.sh "$@"
  arch=$ZV_WINE32_ARCH
  if [ "$arch" = none ]; then
    echo "No 32-bit program runs here: running the 64-bit build instead" >&2
    preset=x86_64 arch=win64
  fi
fi
build=build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target zorvane zorvane_fuzz zorvane_soak zorvane_faults >/dev/null
wine_dir=$PWD/$build/wine-robustness
# The programs run from a copy, so the build can go on while they run.
mkdir -p "$wine_dir/bin"
cp "$build/bin/ZorvaneLib.ocx" "$build/bin/zorvane_fuzz.exe" "$build/bin/zorvane_soak.exe" \
  "$build/bin/zorvane_faults.exe" "$wine_dir/bin/"
scripts/test_prefix.sh up "$wine_dir" "$arch" --xvfb --register "$wine_dir/bin/ZorvaneLib.ocx"
trap 'scripts/test_prefix.sh down "$wine_dir" "$arch"' EXIT
status=0
if [ "$fuzz_calls" -gt 0 ]; then
  echo "== fuzz: seed $seed, $fuzz_calls calls ($preset)"
  start=$(date +%s)
  scripts/wine_run.sh "$arch" "$wine_dir" "$wine_dir/bin/zorvane_fuzz.exe" "$seed" "$fuzz_calls" || status=1
  echo "== fuzz wall time: $(($(date +%s) - start)) s"
fi
if [ "$soak_calls" -gt 0 ]; then
  echo "== soak: $soak_calls calls per method ($preset)"
  start=$(date +%s)
  scripts/wine_run.sh "$arch" "$wine_dir" "$wine_dir/bin/zorvane_soak.exe" "$soak_calls" || status=1
  echo "== soak wall time: $(($(date +%s) - start)) s"
fi
if [ "$fault_calls" -gt 0 ]; then
  echo "== faults: every import at each of its calls ($preset)"
  start=$(date +%s)
  scripts/wine_run.sh "$arch" "$wine_dir" "$wine_dir/bin/zorvane_faults.exe" --all || status=1
  echo "== faults wall time: $(($(date +%s) - start)) s"
  echo "== faults: $fault_calls shapes failing at random, seed $seed ($preset)"
  start=$(date +%s)
  scripts/wine_run.sh "$arch" "$wine_dir" "$wine_dir/bin/zorvane_faults.exe" --random "$fault_calls" "$seed" || status=1
  echo "== faults wall time: $(($(date +%s) - start)) s"
fi
exit $status
