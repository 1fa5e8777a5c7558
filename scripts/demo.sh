#!/usr/bin/env bash
# Installs what is missing, builds the 32-bit OCX, registers it in a private Wine prefix and runs examples/demo.vbs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset i686 >/dev/null
cmake --build --preset i686
root=$PWD
dir=$root/build/i686/demo-wine
trap '"$root/scripts/test_prefix.sh" down "$dir" win32' EXIT
scripts/test_prefix.sh up "$dir" win32 --register build/i686/bin/ZorvaneLib.ocx
cd examples && ../scripts/wine_run.sh win32 "$dir" cscript //nologo demo.vbs
