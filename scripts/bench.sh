#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs the call-cost benchmark of each
# in a throwaway Wine prefix.   usage: scripts/bench.sh [calls per round]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
root=$PWD
for preset in i686 x86_64; do
  arch=win32; [ "$preset" = x86_64 ] && arch=win64
  if [ "$arch" = win32 ] && ! scripts/wine32_works.sh; then
    echo "bench: this machine cannot run 32-bit programs; 32-bit measurements skipped"
    echo
    continue
  fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target zorvane_bench
  dir=$root/build/$preset/bench-wine
  trap '"$root/scripts/test_prefix.sh" down "$dir" '"$arch" EXIT
  scripts/test_prefix.sh up "$dir" "$arch"
  scripts/wine_run.sh "$arch" "$dir" "build/$preset/bin/zorvane_bench.exe" "$@"
  scripts/test_prefix.sh down "$dir" "$arch"
  trap - EXIT
  echo
done
