#!/usr/bin/env bash
# Runs a command where 32-bit Windows programs can run, by the route scripts/wine32_route.sh chooses: directly,
# or in a private user and mount namespace whose binfmt_misc hands every 32-bit program to qemu-user (nothing
# machine-wide changes). Where neither works the command runs anyway and its 32-bit parts report themselves
# skipped. The command sees in ZV_WINE32_ARCH how its 32-bit programs run: win32 (natively, in 32-bit prefixes),
# wow64 (by qemu-user, in 64-bit prefixes, whose own services stay native) or none.
#   usage: with_wine32.sh <command> [args...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ -n "${ZV_WINE32_ARCH:-}" ]; then
  exec "$@"  # already inside
fi
answer=$("$here/wine32_route.sh")
route=$(sed -n 1p <<<"$answer") reason=$(sed -n 2p <<<"$answer")
case "$route" in
  native)
    echo "32-bit programs: native${reason:+ ($reason)}"
    ZV_WINE32_ARCH=win32 exec "$@"
    ;;
  none)
    echo "32-bit programs: none ($reason)"
    ZV_WINE32_ARCH=none exec "$@"
    ;;
  qemu)
    qemu=$("$here/fetch_qemu.sh")
    version=$("$qemu" --version | sed -n -E '1s/.* version ([^ ]+).*/\1/p')
    echo "32-bit programs: qemu-user $version in a private namespace ($reason)"
    # i386 ELF executables and shared objects; F: the kernel opens qemu now, so it is found whatever the root.
    register=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    register+=':\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    register+=":$qemu:F"
    # Registered by the namespace's root; the command then runs as the user who started it, in a namespace
    # nested in that one, so that the files Wine keeps per user in /tmp are that user's, not root's.
    ZV_WINE32_ARCH=wow64 exec unshare --user --map-root-user --mount --fork -- bash -c '
      set -euo pipefail
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
      printf "%s" "$0" >/proc/sys/fs/binfmt_misc/register
      exec unshare --map-user="$1" --map-group="$2" -- "${@:3}"' "$register" "$(id -u)" "$(id -g)" "$@"
    ;;
esac
