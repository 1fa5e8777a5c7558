#!/usr/bin/env bash
# Installs what is missing, builds the 32-bit and 64-bit OCX and runs every test under Wine, all inside
# scripts/with_wine32.sh: both suites start 32-bit programs (the 64-bit one to test both OCX side by side).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
[ -n "${ZV_WINE32_ARCH:-}" ] || exec scripts/with_wine32.sh scripts/test.sh "$@"
status=0
for preset in i686 x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
done
exit $status
