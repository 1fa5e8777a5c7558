#!/usr/bin/env bash
# Installs what is missing, builds the 32-bit and 64-bit OCX and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
status=0
for preset in i686 x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
done
exit $status
