#!/usr/bin/env bash
# Builds the release archive build/dist/ZorvaneLib-<version>.zip: both OCX files with their registration-free
# manifests, the early-bound headers for C/C++ (ZorvaneLib.h) and Pascal (ZorvaneLib_TLB.pas), the four Windows
# Installer packages, README.md, LICENSE, CHANGELOG.md where there is one, and SHA256SUMS of all of them. The
# packages are also left in build/dist/. Signing options are scripts/package.sh's, which signs the OCX files and
# the packages; without a certificate nothing is signed (with package.sh's warning).
#
#   scripts/release.sh [--out DIR] [--no-build] [--pfx FILE | --cert FILE --key FILE] [--password-file FILE]
#                      [--timestamp URL | --no-timestamp]
#   scripts/release.sh --check-reproducible [--work DIR] [signing options]
#
# The version is the project's (project(... VERSION ...) in CMakeLists.txt, through the OCX files). The same commit
# gives the same archive, byte for byte, on any machine with the same Debian packages: every time in it is the
# build's SOURCE_DATE_EPOCH (the commit's time unless the environment sets it), its entries are in the order of
# their names, with fixed permissions.
#
# --check-reproducible shows that: it clones the commit checked out here (committed files only) into two folders
# of different names and depths below --work (default: a new folder in build/), builds the release in each from
# scratch, the second in another time zone, and compares the SHA-256 of both OCX files, the packages, the archive
# and every file in it; it prints each and exits 1 if any differ. It takes two full builds of both architectures
# (tens of minutes on two cores) and about 8 GB of disk, removed again at the end. Signed that way, compare
# without a timestamp server: a timestamp holds the server's time of each signing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
args=("$@")
out=$root/build/dist build=yes check=no work="" signing=()
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$(realpath -m "$2"); shift ;;
    --no-build) build=no ;;
    --check-reproducible) check=yes ;;
    --work) work=$(realpath -m "$2"); shift ;;
    --pfx|--cert|--key|--password-file) signing+=("$1" "$(realpath "$2")"); shift ;;
    --timestamp) signing+=("$1" "$2"); shift ;;
    --no-timestamp) signing+=("$1") ;;
    *) echo "unknown option $1 (see the top of $0)" >&2; exit 2 ;;
  esac
  shift
done

if [ "$check" = yes ]; then
  commit=$(git -C "$root" rev-parse HEAD)
  [ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
    echo "note: uncommitted changes are not part of the check; it builds $commit as committed" >&2
  mkdir -p "$root/build"
  [ -n "$work" ] || work=$(mktemp -d "$root/build/reproducible.XXXXXX")
  mkdir -p "$work"
  first=$work/one/ZorvaneLib second=$work/two/elsewhere/deeper/zv-release
  stop_prefixes() { # <clone>: the wineservers of the clone's prefixes, by prefix
    local dir
    for dir in "$1"/build/*/wine*/; do
      [ -d "$dir/prefix" ] || continue
      local arch=win64
      grep -qsx '#arch=win32' "$dir/prefix/system.reg" && arch=win32
      "$root/scripts/test_prefix.sh" down "$dir" "$arch" >/dev/null 2>&1 || true
    done
  }
  cleanup() { stop_prefixes "$first"; stop_prefixes "$second"; rm -rf "$work"; }
  trap cleanup EXIT
  export ZV_WINE_TEMPLATES=$work/wine-templates  # one booted prefix per architecture for both builds
  for clone in "$first" "$second"; do
    git clone -q --no-hardlinks "$root" "$clone"
    git -C "$clone" checkout -q --detach "$commit"
  done
  echo "building $commit in $first" >&2
  (cd "$first" && TZ=UTC scripts/release.sh "${signing[@]}") >"$work/one.log" 2>&1 ||
    { tail -30 "$work/one.log" >&2; echo "the first build failed (log above)" >&2; exit 1; }
  echo "building $commit in $second" >&2
  (cd "$second" && TZ=Asia/Tokyo scripts/release.sh "${signing[@]}") >"$work/two.log" 2>&1 ||
    { tail -30 "$work/two.log" >&2; echo "the second build failed (log above)" >&2; exit 1; }
  listing() { # <clone>: "hash  name" of what a release is made of, and of every file of its archive
    local clone=$1 zip
    (cd "$clone/build" && sha256sum i686/bin/ZorvaneLib.ocx x86_64/bin/ZorvaneLib.ocx dist/*.msi dist/*.zip)
    zip=$(ls "$clone"/build/dist/*.zip)
    rm -rf "$clone/unpacked" && mkdir -p "$clone/unpacked"
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$clone/unpacked"
    (cd "$clone/unpacked" && find . -type f | LC_ALL=C sort | sed 's|^\./||' | xargs -d '\n' sha256sum |
       sed 's|  |  archive: |')
  }
  listing "$first" >"$work/one.sha256"
  listing "$second" >"$work/two.sha256"
  if diff -u "$work/one.sha256" "$work/two.sha256"; then
    sed 's/^/same  /' "$work/one.sha256"
    echo "reproducible: $(wc -l <"$work/one.sha256") files identical in two builds of $commit"
    exit 0
  fi
  echo "NOT reproducible: the two builds of $commit differ (above)" >&2
  exit 1
fi

if [ "$build" = yes ]; then
  "$root/scripts/bootstrap.sh"
  [ -n "${ZV_WINE32_ARCH:-}" ] || exec "$root/scripts/with_wine32.sh" "$root/scripts/release.sh" "${args[@]}"
  cd "$root"
  for preset in i686 x86_64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target zorvane zorvane_idl zorvane_pascal_unit \
      $([ "$preset" = x86_64 ] && echo package_rows)
  done
fi
cd "$root"

# The holder of the licence is the company the version resource names.
company=$(sed -n -E 's/^ *VALUE "CompanyName", "(.*)"/\1/p' src/resources/zorvane.rc)
grep -q "^Copyright (c) [0-9-]* $company\$" LICENSE ||
  { echo "LICENSE does not name $company, the CompanyName of src/resources/zorvane.rc" >&2; exit 1; }

# One header and one unit serve both architectures: the build makes the same ones for each.
for file in ZorvaneLib.h ZorvaneLib_TLB.pas; do
  cmp -s "build/i686/generated/$file" "build/x86_64/generated/$file" ||
    { echo "build/i686 and build/x86_64 made different $file: build both from one commit" >&2; exit 1; }
done

mkdir -p "$out"
stage=$(mktemp -d "$root/build/release-stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
"$root/scripts/package.sh" --no-build --out "$out" --ocx-out "$stage/ocx" "${signing[@]}"
read -r file_version _ < <(python3 packaging/package_tool.py file-version "$stage/ocx/x86/ZorvaneLib.ocx")
version=${file_version%.*}
epoch=${SOURCE_DATE_EPOCH:-$(cat build/x86_64/source_date_epoch.txt)}

tree=$stage/ZorvaneLib-$version
mkdir -p "$tree/x86" "$tree/x64" "$tree/include" "$tree/packages"
for arch in x86 x64; do
  preset=i686
  [ "$arch" = x64 ] && preset=x86_64
  cp "$stage/ocx/$arch/ZorvaneLib.ocx" "$tree/$arch/"
  cp "build/$preset/bin/ZorvaneLib.sxs.manifest" "$tree/$arch/"
done
cp build/x86_64/generated/ZorvaneLib.h build/x86_64/generated/ZorvaneLib_TLB.pas "$tree/include/"
for kind in x86 x64 user user-x64; do cp "$out/ZorvaneLib-$version-$kind.msi" "$tree/packages/"; done
cp README.md LICENSE "$tree/"
[ -f CHANGELOG.md ] && cp CHANGELOG.md "$tree/"
(cd "$tree" && find . -type f | LC_ALL=C sort | sed 's|^\./||' | xargs -d '\n' sha256sum >"$stage/SHA256SUMS")
mv "$stage/SHA256SUMS" "$tree/SHA256SUMS"
chmod -R u=rwX,go=rX "$tree"
archive=$out/ZorvaneLib-$version.zip
python3 packaging/package_tool.py zip "$archive.new" "$epoch" "$tree"
touch -d "@$epoch" "$archive.new"
mv "$archive.new" "$archive"
echo "$archive"
