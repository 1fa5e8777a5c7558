#!/usr/bin/env bash
# Gives the build tree's disk space back.
#   clean.sh           the Wine prefixes runs left behind (a stopped or failed run keeps its prefix); the builds,
#                      the booted templates and the Free Pascal caches stay, so the next run is as fast
#   clean.sh --all     the whole build tree (the next run builds and boots everything again)
# Only the wineservers of the prefixes removed here are stopped, each by its own prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d build ] || exit 0

stop_server() {  # the wineserver of one prefix, if it runs
  local prefix=$1 server
  for server in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver32 /usr/lib/wine/wineserver; do
    [ -x "$server" ] && WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true
  done
}

before=$(du -sm build | cut -f1)
if [ "${1:-}" = "--all" ]; then
  while IFS= read -r -d '' system; do stop_server "$(dirname "$system")"; done \
    < <(find build -name system.reg -print0 2>/dev/null)
  rm -rf build
else
  # Prefixes of runs, not the templates they are copied from.
  while IFS= read -r -d '' system; do
    prefix=$(dirname "$system")
    case "$prefix" in */wine-template-*) continue ;; esac
    stop_server "$prefix"
    rm -rf "$prefix"
  done < <(find build -name system.reg -print0 2>/dev/null)
fi
after=$( [ -d build ] && du -sm build | cut -f1 || echo 0)
echo "build tree: ${before} MB -> ${after} MB"
