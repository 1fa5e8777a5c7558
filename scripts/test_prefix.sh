#!/usr/bin/env bash
# Makes, starts and removes the throwaway Wine prefix of a build or test run.
#
#   test_prefix.sh make <wine-dir> <arch>     fresh prefix from the template
#   test_prefix.sh up <wine-dir> <arch> [--xvfb] [--register file.ocx]...
#        fresh prefix, persistent wineserver, optional private Xvfb, registered servers
#   test_prefix.sh down <wine-dir> <arch>     stop what `up` started, remove the prefix
# <arch> as for wine_run.sh: win32 makes a 32-bit prefix, win64 and wow64 a 64-bit one; servers are registered
# by programs of its bitness.
#
# Only the wineserver of <wine-dir>/prefix and the Xvfb whose PID `up` recorded are ever stopped.
# Prefixes are copied from one booted template per architecture, kept beside the wine-dirs (in their parent
# directory, or in $ZV_WINE_TEMPLATES): a prefix takes over a gigabyte and booting one takes half a minute.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

cmd=${1:?command}
wine_dir=${2:?wine directory}
mkdir -p "$wine_dir"
wine_dir=$(cd "$wine_dir" && pwd)
arch=${3:-win32}
if [ "$arch" = win32 ]; then
  WINEARCH=win32 loader=/usr/lib/wine/wine server=/usr/lib/wine/wineserver32
else
  WINEARCH=win64 loader=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64
fi
export WINEARCH WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="

winepath_of() { # <unix path>: the same file as Wine's Z: drive names it
  local path
  path=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s' "${path//\//\\}"
}

stop_server() { # <prefix>
  [ -d "$1" ] || return 0
  WINEPREFIX="$1" "$server" -k 2>/dev/null || true
  WINEPREFIX="$1" "$server" -w 2>/dev/null || true
}

# The template: booted once, with fonts and an X11 driver that needs no window manager.
templates=${ZV_WINE_TEMPLATES:-$(dirname "$wine_dir")}
mkdir -p "$templates"
template=$templates/wine-template-$WINEARCH
make_template() {
  [ -f "$template/.ready-2" ] && return 0
  rm -rf "$template"
  mkdir -p "$template"
  (
    export WINEPREFIX="$template"
    unset DISPLAY
    "$loader" wineboot -i >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    # A program that crashes ends at once with its report, instead of waiting in the debugger.
    "$loader" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1
    stop_server "$template"
  )
  cp /usr/share/wine/fonts/*.ttf "$template/drive_c/windows/Fonts/" 2>/dev/null || true
  touch "$template/.ready-2"
}

make_prefix() {
  (
    flock 9
    stop_server "$wine_dir/prefix"
    rm -rf "$wine_dir/prefix"
    (
      flock 8
      make_template
    ) 8>"$template.lock"
    cp -a "$template" "$wine_dir/prefix"
  ) 9>"$wine_dir/.lock"
}

start_xvfb() {
  local fifo="$wine_dir/display.fifo"
  rm -f "$fifo" "$wine_dir/display"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  echo $! >"$wine_dir/xvfb.pid"
  local number
  read -r -t 10 number <"$fifo" || { echo "Xvfb did not start" >&2; exit 1; }
  rm -f "$fifo"
  echo "$number" >"$wine_dir/display"
}

case "$cmd" in
  make)
    make_prefix
    ;;
  up)
    shift 3
    xvfb=no
    servers=()
    while [ $# -gt 0 ]; do
      case "$1" in
        --xvfb) xvfb=yes ;;
        --register) servers+=("$2"); shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
      esac
      shift
    done
    "$0" down "$wine_dir" "$arch"
    make_prefix
    [ "$xvfb" = yes ] && start_xvfb
    # A persistent wineserver with its own output: test runners then wait for no lingering server.
    WINEPREFIX="$wine_dir/prefix" "$server" -p </dev/null >/dev/null 2>&1
    for ocx in "${servers[@]}"; do
      "$here/wine_run.sh" "$arch" "$wine_dir" regsvr32 /s "$(winepath_of "$ocx")" 2>/dev/null ||
        { echo "registering $ocx failed" >&2; exit 1; }
    done
    ;;
  down)
    stop_server "$wine_dir/prefix"
    if [ -f "$wine_dir/xvfb.pid" ]; then
      kill "$(cat "$wine_dir/xvfb.pid")" 2>/dev/null || true
      rm -f "$wine_dir/xvfb.pid" "$wine_dir/display"
    fi
    rm -rf "$wine_dir/prefix"
    ;;
  *)
    echo "usage: $0 make|up|down <wine-dir> [win32|win64|wow64] ..." >&2
    exit 2
    ;;
esac
