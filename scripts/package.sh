#!/usr/bin/env bash
# Builds the Windows Installer packages into build/dist/: ZorvaneLib-<version>-x86.msi (per machine, the 32-bit
# OCX), -x64.msi (per machine, both OCX), -user.msi (the current user, the 32-bit OCX) and -user-x64.msi (the
# current user on 64-bit Windows, both OCX), from packaging/ZorvaneLib.wxs with wixl. Given a certificate, it signs
# the OCX files before packaging and the packages after (osslsigncode); otherwise nothing is signed.
#
#   scripts/package.sh [--version X.Y.Z] [--out DIR] [--no-build] [--builds DIR] [--ocx-out DIR]
#                      [--wine-dir DIR] [--pfx FILE | --cert FILE --key FILE] [--password-file FILE]
#                      [--timestamp URL | --no-timestamp]
#
# The version is the OCX files' own (their version resource, from the project's version); --version, if given,
# must be the same, or nothing is built. --no-build: use the builds as they are; --builds: the folder that holds
# them (i686/ and x86_64/, default build; implies --no-build); --ocx-out: also leave the OCX files as packaged (and
# signed) there, in x86/ and x64/; --wine-dir: where the throwaway Wine prefix that generates the registry rows
# lives (default build/x86_64/wine-package); --password-file: the PFX's or key's password; --timestamp: an RFC 3161
# server, which signing needs (a signature without one ends with the certificate) unless --no-timestamp says so
# on purpose. Unsigned packages are built too, with a warning: SmartScreen and Smart App Control hold them up on
# users' machines.
#
# The same builds give the same packages, byte for byte: every time in them (the files' times in the cabinet, the
# summary information's, a signature's signing time) is the build's SOURCE_DATE_EPOCH (the environment's, else the
# one the builds recorded: the commit's time), the product code is derived from the kind and the version, and the
# package code from the package's contents (packaging/package_tool.py). A signature with a timestamp holds the
# time-stamping server's time, and so differs from one signing to the next.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
args=("$@")
out=$root/build/dist wine_dir="" build=yes builds=$root/build ocx_out="" asked_version=""
pfx="" cert="" key="" password="" timestamp="" no_timestamp=no
while [ $# -gt 0 ]; do
  case "$1" in
    --version) asked_version=$2; shift ;;
    --out) out=$(realpath -m "$2"); shift ;;
    --no-build) build=no ;;
    --builds) builds=$(realpath -m "$2"); build=no; shift ;;
    --ocx-out) ocx_out=$(realpath -m "$2"); shift ;;
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
[ -n "$wine_dir" ] || wine_dir=$builds/x86_64/wine-package
if [ -n "$asked_version" ]; then
  [[ $asked_version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "--version wants X.Y.Z, not $asked_version" >&2; exit 2; }
  project_version=$(sed -n -E 's/^project\(ZorvaneLib VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
  if [ "$build" = yes ] && [ "$asked_version" != "$project_version" ]; then
    echo "--version $asked_version: the build makes $project_version (project(... VERSION ...) in CMakeLists.txt," \
         "the one place the version is set); packages carry the version of the OCX files they hold" >&2
    exit 2
  fi
fi
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
ocx32=$builds/i686/bin/ZorvaneLib.ocx ocx64=$builds/x86_64/bin/ZorvaneLib.ocx
rows_tool=$builds/x86_64/bin/package_rows.exe
for file in "$ocx32" "$ocx64" "$rows_tool"; do
  [ -f "$file" ] || { echo "missing $file: build both presets first (without --no-build this script does)" >&2; exit 1; }
done
tool() { python3 "$root/packaging/package_tool.py" "$@"; }

# The version: the OCX files' own, which Windows Installer compares when it replaces a file.
read -r file_version32 language32 < <(tool file-version "$ocx32")
read -r file_version64 language64 < <(tool file-version "$ocx64")
if [ "$file_version32" != "$file_version64" ]; then
  echo "the 32-bit OCX is of version $file_version32, the 64-bit one of $file_version64: build both from one commit" >&2
  exit 1
fi
version=${file_version32%.*}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "the OCX files' version $file_version32 is not X.Y.Z.n" >&2; exit 1; }
if [ -n "$asked_version" ] && [ "$asked_version" != "$version" ]; then
  echo "--version $asked_version: the OCX files in $builds are of version $version; packages carry that one" >&2
  exit 2
fi

# The one time every output holds.
epoch=${SOURCE_DATE_EPOCH:-}
if [ -z "$epoch" ]; then
  epoch32=$(cat "$builds/i686/source_date_epoch.txt" 2>/dev/null || true)
  epoch=$(cat "$builds/x86_64/source_date_epoch.txt" 2>/dev/null || true)
  if [ -z "$epoch" ] || [ "$epoch32" != "$epoch" ]; then
    echo "the builds in $builds record different times or none ([$epoch32], [$epoch]): configure both again" >&2
    exit 1
  fi
fi
[[ $epoch =~ ^[0-9]+$ ]] || { echo "SOURCE_DATE_EPOCH is not a number of seconds: $epoch" >&2; exit 1; }

# The product code of each package: the name-based (SHA-1, version 5) UUID of the package's file name without
# ".msi", e.g. "ZorvaneLib-1.5.0-x64", in this namespace, which never changes. A package of the same kind and
# version is the same product however often it is built.
product_namespace=6DECC4DF-ADA1-49A5-871C-4A0F8CC34A3D

mkdir -p "$out" "$wine_dir"

signing=()
if [ -n "$pfx" ]; then signing=(-pkcs12 "$pfx"); elif [ -n "$cert" ]; then signing=(-certs "$cert" -key "$key"); fi
if [ -n "$password" ]; then signing+=(-readpass "$password"); fi
# A timestamp holds the server's time; without one, the signing time is the build's.
if [ -n "$timestamp" ]; then signing+=(-ts "$timestamp"); else signing+=(-time "$epoch"); fi
sign() { # <file>: signs it in place
  [ -n "$pfx$cert" ] || return 0
  rm -f "$1.signed"
  osslsigncode sign "${signing[@]}" -h sha256 -n "ZorvaneLib" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}

mkdir -p "$root/build"
stage=$(mktemp -d "$root/build/package-stage.XXXXXX")
trap 'rm -rf "$stage"; "$root/scripts/test_prefix.sh" down "$wine_dir" win64' EXIT
mkdir -p "$stage/x86" "$stage/x64"
cp "$ocx32" "$stage/x86/ZorvaneLib.ocx"
cp "$ocx64" "$stage/x64/ZorvaneLib.ocx"
sign "$stage/x86/ZorvaneLib.ocx"
sign "$stage/x64/ZorvaneLib.ocx"
# The cabinet keeps each file's time.
touch -d "@$epoch" "$stage/x86/ZorvaneLib.ocx" "$stage/x64/ZorvaneLib.ocx"
if [ -n "$ocx_out" ]; then
  mkdir -p "$ocx_out/x86" "$ocx_out/x64"
  cp -p "$stage/x86/ZorvaneLib.ocx" "$ocx_out/x86/ZorvaneLib.ocx"
  cp -p "$stage/x64/ZorvaneLib.ocx" "$ocx_out/x64/ZorvaneLib.ocx"
fi

# The registry rows of each OCX, from its own registration, run by the 64-bit tool (it reads both
# architectures' type libraries) in a throwaway prefix.
scripts/test_prefix.sh up "$wine_dir" win64
rows() { # <ocx> <machine|user> <file id> <folder id> <out>
  scripts/wine_run.sh win64 "$wine_dir" "$rows_tool" "Z:${1//\//\\}" "$2" "$3" "$4" "Z:${5//\//\\}"
}
rows "$stage/x86/ZorvaneLib.ocx" machine ocx32 Folder32 "$stage/machine32.wxi"
rows "$stage/x64/ZorvaneLib.ocx" machine ocx64 Folder64 "$stage/machine64.wxi"
rows "$stage/x86/ZorvaneLib.ocx" user ocx32 Folder32 "$stage/user32.wxi"
rows "$stage/x64/ZorvaneLib.ocx" user ocx64 Folder64 "$stage/user64.wxi"

for kind in x86 x64 user user-x64; do
  name=ZorvaneLib-$version-$kind
  package=$out/$name.msi
  arch=x86 rows32=machine32.wxi rows64=machine64.wxi files=(ocx32)
  case "$kind" in
    x64) arch=x64 files=(ocx32 ocx64) ;;
    user) rows32=user32.wxi ;;
    user-x64) arch=x64 rows32=user32.wxi rows64=user64.wxi files=(ocx32 ocx64) ;;
  esac
  product_code=$(tool uuid5 "$product_namespace" "$name")
  # wixl finds sources and includes relative to the folder it runs in.
  (cd "$stage" && wixl -a "$arch" -D Kind="$kind" -D Version="$version" -D ProductCode="$product_code" \
     -D Ocx32=x86/ZorvaneLib.ocx -D Ocx64=x64/ZorvaneLib.ocx -D Rows32="$rows32" -D Rows64="$rows64" \
     -o "$package.new" "$root/packaging/ZorvaneLib.wxs")
  # What wixl cannot say. The OCX files' versions and language, from their version resources, so that Windows
  # Installer's file versioning applies to them (a versioned file has no hash row); and the major upgrade
  # includes the same version (VersionMax inclusive, 0x200, beside MigrateFeatures, 1: a new row, since
  # Attributes is part of the table's key).
  upgrade_code=$(msiinfo export "$package.new" Property | tr -d '\r' | awk -F '\t' '$1 == "UpgradeCode" { print $2 }')
  queries=("DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
           "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
            VALUES ('$upgrade_code', '$version', 513, 'WIX_UPGRADE_DETECTED')")
  for file in "${files[@]}"; do
    file_version=$file_version32 language=$language32
    [ "$file" = ocx64 ] && file_version=$file_version64 language=$language64
    queries+=("UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '$language' WHERE \`File\` = '$file'"
              "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$file'")
  done
  for query in "${queries[@]}"; do msibuild "$package.new" -q "$query"; done
  tool finish "$package.new" "$epoch" "$product_namespace" "$name" >/dev/null
  sign "$package.new"
  touch -d "@$epoch" "$package.new"
  mv "$package.new" "$package"
  echo "$package$([ -n "$pfx$cert" ] && echo ' (signed)')"
done
