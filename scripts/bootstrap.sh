#!/usr/bin/env bash
# Installs the cross toolchain, Wine, the packaging and signing tools and test tools on a fresh Debian machine
# (idempotent).
set -euo pipefail

packages=(
  cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev
  wine wine32:i386 wine64 xvfb xauth googletest fonts-wine imagemagick wixl msitools osslsigncode openssl
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
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${packages[@]}"
