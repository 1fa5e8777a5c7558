#!/usr/bin/env bash
# Free Pascal programs for Windows from Debian's Linux-only compiler: makes, once per build tree and architecture,
# the Windows pieces it lacks from Debian's sources, and compiles programs with them.
#
#   fpc_cross.sh pieces <i386|x86_64> <dir>
#       <dir>/rtl: the RTL's units for win32 or win64; for i386 also <dir>/bin/ppcross386, the cross compiler,
#       built from the compiler's sources. Does nothing when <dir>/ready says this recipe made them.
#   fpc_cross.sh compile <i386|x86_64> <dir> <program.exe> <source> [--lcl] [--units <folder>]... [fpc option]...
#       --lcl: an LCL program (win32 widgetset, LazActiveX). Units outside the RTL compile from their sources on
#       demand into <dir>/units-<console|lcl>, where the next program finds them.
#
# Sources: ZV_FPCSRC (default /usr/share/fpcsrc/3.2.2, package fpc-source-3.2.2) and ZV_LAZARUS (default
# /usr/lib/lazarus/2.2.6, package lazarus-src-2.2); the 64-bit compiler is ZV_PPCX64 (default /usr/bin/ppcx64).
set -euo pipefail

fpcsrc=${ZV_FPCSRC:-/usr/share/fpcsrc/3.2.2}
lazarus=${ZV_LAZARUS:-/usr/lib/lazarus/2.2.6}
ppcx64=${ZV_PPCX64:-/usr/bin/ppcx64}
# Changes whenever the pieces would come out differently: a ready folder of another recipe is made again.
recipe="recipe 1, $("$ppcx64" -iV), $fpcsrc"

usage() {
  echo "usage: $0 pieces <i386|x86_64> <dir> | compile <i386|x86_64> <dir> <program.exe> <source> [options]" >&2
  exit 2
}

cmd=${1:-}
cpu=${2:-}
dir=${3:-}
[ -n "$cmd" ] && [ -n "$dir" ] || usage
case "$cpu" in
  i386) os=win32 ;;
  x86_64) os=win64 ;;
  *) usage ;;
esac
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

compiler() { # the compiler that makes programs for $cpu-$os
  if [ "$cpu" = x86_64 ]; then echo "$ppcx64"; else echo "$dir/bin/ppcross386"; fi
}

make_pieces() {
  local work=$dir/work
  rm -rf "$work" "$dir/rtl" "$dir/bin" "$dir"/units-* "$dir/ready"
  mkdir -p "$work" "$dir/bin"
  # The RTL's build writes into its folders, and Debian's copy lacks a few generated files: a copy gets them.
  cp -a "$fpcsrc/rtl" "$work/rtl"
  printf 'CPUNAMES=%s setjump setjumph math\nCPUINCNAMES=$(addsuffix .inc,$(CPUNAMES))\n' "$cpu" \
    >"$work/rtl/$cpu/makefile.cpu"
  local folder
  for folder in . "$os"; do
    (cd "$work/rtl/$folder" && fpcmake -q -w -Tlinux,win32,win64 Makefile.fpc)
  done

  if [ "$cpu" = i386 ]; then
    # The cross compiler, with the message texts its sources include, made from Debian's message file.
    cp -a "$fpcsrc/compiler" "$work/compiler"
    mkdir -p "$work/units-host"
    "$ppcx64" -O2 -Xs -FU"$work/units-host" -FE"$work/units-host" "$work/compiler/utils/msg2inc.pp" >"$work/msg2inc.log" ||
      { cat "$work/msg2inc.log" >&2; exit 1; }
    local messages
    messages=$(dirname "$(readlink -f "$ppcx64")")/msg/errore.msg
    (cd "$work/compiler" && "$work/units-host/msg2inc" "$messages" msg msg >/dev/null)
    mkdir -p "$work/units-compiler"
    (cd "$work/compiler" &&
      "$ppcx64" -O2 -Xs -Fux86 -Fui386 -Fusystems -Fii386 -Fix86 -dRELEASE -di386 -FU"$work/units-compiler" \
        -o"$dir/bin/ppcross386" pp.pas >"$work/compiler.log") || { tail -n 30 "$work/compiler.log" >&2; exit 1; }
  fi

  make -C "$work/rtl/$os" all FPC="$(compiler)" OS_TARGET="$os" CPU_TARGET="$cpu" OPT="-n -O2" \
    >"$work/rtl.log" 2>&1 || { tail -n 30 "$work/rtl.log" >&2; exit 1; }
  mv "$work/rtl/units/$cpu-$os" "$dir/rtl"
  rm -rf "$work"
  echo "$recipe" >"$dir/ready"
}

pieces() {
  (
    flock 9
    if [ "$(cat "$dir/ready" 2>/dev/null)" = "$recipe" ]; then
      touch "$dir/ready"  # up to date for the build tool too
      exit 0
    fi
    local start=$SECONDS
    echo "Free Pascal: making the $cpu-$os pieces under $dir"
    make_pieces
    echo "Free Pascal: $cpu-$os pieces made in $((SECONDS - start)) s"
  ) 9>"$dir/.lock"
}

source_folders() { # -Fu/-Fi for each package source folder given
  local folder
  for folder in "$@"; do
    printf -- '-Fu%s\n-Fi%s\n' "$folder" "$folder"
  done
}

compile() {
  local program=${1:?program} source=${2:?source}
  shift 2
  local kind=console
  local options=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --lcl) kind=lcl ;;
      --units) options+=("-Fu$2" "-Fi$2"); shift ;;
      *) options+=("$1") ;;
    esac
    shift
  done
  [ "$(cat "$dir/ready" 2>/dev/null)" = "$recipe" ] || { echo "$0: run '$0 pieces $cpu $dir' first" >&2; exit 1; }
  local packages=$fpcsrc/packages
  local folders=(
    "$packages/rtl-objpas/src/inc" "$packages/rtl-objpas/src/win" "$packages/rtl-objpas/src/$cpu"
    "$packages/winunits-base/src" "$packages/fcl-registry/src" "$packages/fcl-base/src" "$packages/fcl-base/src/win"
  )
  if [ "$kind" = lcl ]; then
    options+=(-dLCL -dLCLwin32)
    folders+=(
      "$packages/fcl-image/src" "$packages/paszlib/src" "$packages/pasjpeg/src" "$packages/hash/src"
      "$packages/fcl-process/src" "$packages/fcl-process/src/winall" "$packages/fcl-process/src/win"
      "$packages/fcl-res/src" "$packages/fcl-extra/src" "$packages/fcl-extra/src/win" "$packages/fcl-json/src"
      "$packages/fcl-xml/src" "$packages/chm/src"
      "$lazarus/lcl" "$lazarus/lcl/forms" "$lazarus/lcl/widgetset" "$lazarus/lcl/include"
      "$lazarus/lcl/interfaces/win32" "$lazarus/components/lazutils" "$lazarus/components/freetype"
      "$lazarus/components/activex"
    )
  fi
  local units=$dir/units-$kind
  mkdir -p "$units" "$(dirname "$program")"
  mapfile -t search < <(source_folders "${folders[@]}")
  # -n: not /etc/fpc.cfg (Linux units), so its -Sgic is given here; -XP: no binutils, FPC's own linker.
  # One compile at a time per unit folder: programs built in parallel share it.
  (
    flock 9
    "$(compiler)" -n -T"$os" -XP -Sgic -Xs -Fu"$dir/rtl" "${search[@]}" -FU"$units" "${options[@]}" \
      -o"$program" "$source"
  ) 9>"$units.lock"
}

case "$cmd" in
  pieces) pieces ;;
  compile) shift 3; compile "$@" ;;
  *) usage ;;
esac
