#!/usr/bin/env bash
# Builds the Windows Installer packages into build/dist/: ZorvaneLib-<version>-x86.msi (per machine, the 32-bit
# OCX), -x64.msi (per machine, both OCX) and -user.msi (the current user, the 32-bit OCX), from
# packaging/ZorvaneLib.wxs with wixl. Given a certificate, it signs the OCX files before packaging and the
# packages after (osslsigncode); otherwise nothing is signed.
#
#   scripts/package.sh [--version X.Y.Z] [--out DIR] [--no-build] [--wine-dir DIR]
#                      [--pfx FILE | --cert FILE --key FILE] [--password-file FILE]
#                      [--timestamp URL | --no-timestamp]
#
# --version: the packages' version (default: the project's); --no-build: use build/i686 and build/x86_64 as
# they are; --wine-dir: where the throwaway Wine prefix that generates the registry rows lives (default
# build/x86_64/wine-package); --password-file: the PFX's or key's password; --timestamp: an RFC 3161 server, which
# signing needs (a signature without one ends with the certificate) unless --no-timestamp says so on purpose.
# Unsigned packages are built too, with a warning: SmartScreen and Smart App Control hold them up on users' machines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
args=("$@")
version=$(sed -n -E 's/^project\(ZorvaneLib VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
out=$root/build/dist wine_dir=$root/build/x86_64/wine-package build=yes
pfx="" cert="" key="" password="" timestamp="" no_timestamp=no
while [ $# -gt 0 ]; do
  case "$1" in
    --version) version=$2; shift ;;
    --out) out=$(realpath -m "$2"); shift ;;
    --no-build) build=no ;;
    --wine-dir) wine_dir=$(realpath -m "$2"); shift ;;
    --pfx) pfx=$(realpath "$2"); shift ;;
    --cert) cert=$(realpath "$2"); shift ;;
    --key) key=$(realpath "$2"); shift ;;
    --password-file) password=$(realpath "$2"); shift ;;
    --timestamp) timestamp=$2; shift ;;
    --no-timestamp) no_timestamp=yes ;;
    *) echo "unknown option $1 (see the top of $0)" >&2; exit 2 ;;
  esac
  shift
done
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "--version wants X.Y.Z, not $version" >&2; exit 2; }
if [ -n "$pfx" ] && [ -n "$cert$key" ]; then echo "give --pfx or --cert and --key, not both" >&2; exit 2; fi
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then echo "--cert needs --key" >&2; exit 2; fi
if [ -n "$pfx$cert" ] && [ -z "$timestamp" ] && [ "$no_timestamp" = no ]; then
  echo "signing needs --timestamp URL (an RFC 3161 server): without one the signatures end with the certificate." >&2
  echo "Give --no-timestamp to sign without one on purpose (tests, internal builds)." >&2
  exit 2
fi
if [ -z "$pfx$cert" ]; then
  cat >&2 <<'WARNING'
*** WARNING: building UNSIGNED packages and OCX files. ***
*** Windows SmartScreen warns about them, Smart App Control blocks them, and users cannot tell who made them. ***
*** Sign releases with an RSA code-signing certificate and a timestamp: --pfx FILE --timestamp URL. ***
WARNING
fi

if [ "$build" = yes ]; then
  "$root/scripts/bootstrap.sh"
  [ -n "${ZV_WINE32_ARCH:-}" ] || exec "$root/scripts/with_wine32.sh" "$root/scripts/package.sh" "${args[@]}"
fi
cd "$root"
if [ "$build" = yes ]; then
  for preset in i686 x86_64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target zorvane $([ "$preset" = x86_64 ] && echo package_rows)
  done
fi
ocx32=$root/build/i686/bin/ZorvaneLib.ocx ocx64=$root/build/x86_64/bin/ZorvaneLib.ocx
rows_tool=$root/build/x86_64/bin/package_rows.exe
for file in "$ocx32" "$ocx64" "$rows_tool"; do
  [ -f "$file" ] || { echo "missing $file: build both presets first (without --no-build this script does)" >&2; exit 1; }
done

mkdir -p "$out" "$wine_dir"

signing=()
if [ -n "$pfx" ]; then signing=(-pkcs12 "$pfx"); elif [ -n "$cert" ]; then signing=(-certs "$cert" -key "$key"); fi
if [ -n "$password" ]; then signing+=(-readpass "$password"); fi
if [ -n "$timestamp" ]; then signing+=(-ts "$timestamp"); fi
sign() { # <file>: signs it in place
  [ -n "$pfx$cert" ] || return 0
  rm -f "$1.signed"
  osslsigncode sign "${signing[@]}" -h sha256 -n "ZorvaneLib" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}

stage=$(mktemp -d "$root/build/package-stage.XXXXXX")
trap 'rm -rf "$stage"; "$root/scripts/test_prefix.sh" down "$wine_dir" win64' EXIT
mkdir -p "$stage/x86" "$stage/x64"
cp "$ocx32" "$stage/x86/ZorvaneLib.ocx"
cp "$ocx64" "$stage/x64/ZorvaneLib.ocx"
sign "$stage/x86/ZorvaneLib.ocx"
sign "$stage/x64/ZorvaneLib.ocx"

# The registry rows of each OCX, from its own registration, run by the 64-bit tool (it reads both
# architectures' type libraries) in a throwaway prefix.
scripts/test_prefix.sh up "$wine_dir" win64
rows() { # <ocx> <machine|user> <file id> <folder id> <out>
  scripts/wine_run.sh win64 "$wine_dir" "$rows_tool" "Z:${1//\//\\}" "$2" "$3" "$4" "Z:${5//\//\\}"
}
rows "$stage/x86/ZorvaneLib.ocx" machine ocx32 Folder32 "$stage/machine32.wxi"
rows "$stage/x64/ZorvaneLib.ocx" machine ocx64 Folder64 "$stage/machine64.wxi"
rows "$stage/x86/ZorvaneLib.ocx" user ocx32 Folder32 "$stage/user32.wxi"

for kind in x86 x64 user; do
  package=$out/ZorvaneLib-$version-$kind.msi
  arch=x86 rows32=machine32.wxi
  [ "$kind" = x64 ] && arch=x64
  [ "$kind" = user ] && rows32=user32.wxi
  # wixl finds sources and includes relative to the folder it runs in.
  (cd "$stage" && wixl -a "$arch" -D Kind="$kind" -D Version="$version" -D Ocx32=x86/ZorvaneLib.ocx \
     -D Ocx64=x64/ZorvaneLib.ocx -D Rows32="$rows32" -D Rows64=machine64.wxi -o "$package.new" \
     "$root/packaging/ZorvaneLib.wxs")
  sign "$package.new"
  mv "$package.new" "$package"
  echo "$package$([ -n "$pfx$cert" ] && echo ' (signed)')"
done
