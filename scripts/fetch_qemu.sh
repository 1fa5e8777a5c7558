#!/usr/bin/env bash
# Fetches qemu-user 10 from Debian's bookworm-backports into build/qemu (once) and prints the path of its static
# qemu-i386. apt works from a private configuration under build/qemu: the machine's apt sources stay as they are.
set -euo pipefail
dir=$(cd "$(dirname "$0")/.." && pwd)/build/qemu
qemu=$dir/usr/bin/qemu-i386
mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9
if [ ! -x "$qemu" ]; then
  # The Debian mirror the machine's own apt sources name (deb822 or one-line format).
  mirror=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
             sed -n -E -e 's|^URIs:[[:space:]]*([^[:space:]]*/debian)/?([[:space:]].*)?$|\1|p' \
               -e 's|^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]*/debian)/?[[:space:]].*|\2|p' |
             head -n 1 || true)
  mirror=${mirror:-http://deb.debian.org/debian}
  apt=$dir/apt
  rm -rf "$apt" "$dir/unpacked" "$dir/usr"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  echo "deb $mirror bookworm-backports main" >"$apt/sources.list"
  options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
           -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
  apt-get -q "${options[@]}" update >&2
  # Backports' qemu-user-static is only a transitional package: qemu-user's qemu-i386 is the static one.
  (cd "$apt" && apt-get -q "${options[@]}" download qemu-user/bookworm-backports >&2)
  dpkg-deb -x "$apt"/qemu-user_*.deb "$dir/unpacked"
  mkdir -p "$dir/usr/bin"
  mv "$dir/unpacked/usr/bin/qemu-i386" "$qemu"  # the only one of its emulators used here
  rm -rf "$apt" "$dir/unpacked"
fi
echo "$qemu"
