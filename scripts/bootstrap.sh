#!/usr/bin/env bash
# Installs the cross toolchain, Wine, the packaging and signing tools, test tools and Free Pascal with the
# Free Pascal and Lazarus sources (the Pascal test programs) on a fresh Debian machine (idempotent).
set -euo pipefail

packages=(
  cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev
  wine wine32:i386 wine64 xvfb xauth googletest fonts-wine imagemagick wixl msitools osslsigncode openssl python3
  fp-compiler-3.2.2 fp-utils-3.2.2 fp-units-base-3.2.2 fpc-source-3.2.2 lazarus-src-2.2
)

missing() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 0
  done
  return 1
}

if ! missing; then
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails an index now and then: try again, and go on with what the indexes
# hold when one stays out of step (the install itself says whether anything is really missing).
for attempt in 1 2 3; do
  $sudo apt-get update -q && break
  echo "bootstrap: apt-get update failed (attempt $attempt of 3)" >&2
  sleep $((attempt * 10))
done
# Where one architecture's security index stayed out of step, the two architectures' candidates differ and the
# multi-architecture libraries cannot be installed side by side: the release's own suite then gives both.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
for attempt in 1 2 3; do
  $sudo apt-get install -y -q --no-install-recommends "${packages[@]}" && exit 0
  echo "bootstrap: apt-get install failed (attempt $attempt of 3); trying the $codename suite's versions" >&2
  $sudo apt-get install -y -q --no-install-recommends -t "$codename" "${packages[@]}" && exit 0
  sleep $((attempt * 10))
  $sudo apt-get update -q || true
done
exit 1
