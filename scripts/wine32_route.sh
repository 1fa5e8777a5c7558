#!/usr/bin/env bash
# Says how this machine runs 32-bit programs (32-bit Wine is itself a 32-bit Linux program, and some kernels
# start none): "native"; "qemu", qemu-user in a private user and mount namespace (scripts/with_wine32.sh),
# fetched into build/qemu first; or "none". A second line says why, where the choice needs a reason.
# ZV_WINE32_ROUTE=native or qemu forces that route (default auto: native where the kernel runs 32-bit programs).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
route=${ZV_WINE32_ROUTE:-auto}

none() { printf 'none\n%s\n' "$1"; exit 0; }

[ -x /usr/lib/wine/wine ] || none "32-bit Wine is not installed: scripts/bootstrap.sh installs it"

case "$route" in
  auto | native)
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
      echo native
      [ "$route" = auto ] || echo "ZV_WINE32_ROUTE=native"
      exit 0
    fi
    [ "$route" = auto ] || none "ZV_WINE32_ROUTE=native, but this kernel runs no 32-bit program"
    reason="this kernel runs no 32-bit program"
    ;;
  qemu) reason="ZV_WINE32_ROUTE=qemu" ;;
  *) echo "ZV_WINE32_ROUTE must be auto, native or qemu, not $route" >&2; exit 2 ;;
esac

if ! error=$(unshare --user --map-root-user --mount true 2>&1); then
  none "user namespaces are refused here: ${error:-unshare failed}"
fi
if ! printf '6.7\n%s\n' "$(uname -r)" | sort -V -C; then
  none "Linux $(uname -r) is older than 6.7, the first that mounts binfmt_misc in a user namespace"
fi
if ! error=$(unshare --user --map-root-user --mount \
               mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>&1); then
  none "binfmt_misc cannot be mounted in a user namespace: ${error:-mount failed}"
fi
log=$here/../build/qemu/fetch.log
mkdir -p "$(dirname "$log")"
if ! "$here/fetch_qemu.sh" >"$log" 2>&1; then
  none "qemu-user 10 could not be fetched from bookworm-backports, see build/qemu/fetch.log"
fi
printf 'qemu\n%s\n' "$reason"
