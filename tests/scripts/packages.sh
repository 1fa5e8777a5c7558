#!/usr/bin/env bash
# The Windows Installer packages under Wine's own msiexec, each kind in a fresh prefix: built by
# scripts/package.sh and signed with a throwaway certificate, then quiet install, the control created from the
# script hosts the package covers, the classes keys the same as regsvr32 leaves for the same files, installing
# the same package again and over a same-version package of another product code (one product either way),
# repair of a deleted OCX, upgrade from a lower version (built from the same OCX files with their version
# resources set to 1.4.0.0), and uninstall leaving the classes keys (every view, machine and user) and the files
# as they were. Also: the version, product code, file versions and upgrade rows in each package's tables.
#   usage: packages.sh <wine-dir>
# 32-bit programs run as ZV_WINE32_ARCH says (scripts/with_wine32.sh): win32, the x86 package in a 32-bit
# prefix; wow64, in a 64-bit one; none, only the x64 package's 64-bit OCX.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$(cd "$here/../../scripts" && pwd)
mkdir -p "$1"
dir=$(cd "$1" && pwd)
work=$dir/work
rm -rf "$work" && mkdir -p "$work"
arch32=${ZV_WINE32_ARCH:-}
if [ -z "$arch32" ]; then
  arch32=none
  /usr/lib/wine/wine --version >/dev/null 2>&1 && arch32=win32
fi
prefix_arch=win64
trap '"$scripts/test_prefix.sh" down "$dir" "$prefix_arch"' EXIT

status=0
ok() { echo "ok $1"; }
fail() { echo "FAIL $1"; status=1; }
expect() { # <what> <expected> <seen>
  if [ "$2" = "$3" ]; then ok "$1"; else fail "$1: expected [$2], saw [$3]"; fi
}

# A throwaway self-signed code-signing certificate, as a PFX with a password and as PEM files.
(
  cd "$work" &&
    openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
      -subj "/CN=ZorvaneLib test signing" -addext extendedKeyUsage=codeSigning 2>/dev/null &&
    printf 'test password' >password &&
    openssl pkcs12 -export -in cert.pem -inkey key.pem -out cert.pfx -passout file:password
) || { echo "FAIL making the certificate"; exit 1; }
version=$(sed -n -E 's/^project\(ZorvaneLib VERSION ([0-9.]+).*/\1/p' "$scripts/../CMakeLists.txt")
builds=$(cd "$scripts/../build" && pwd)
built=$work/dist lower=$work/dist-lower
"$scripts/package.sh" --no-build --version "$version" --wine-dir "$dir" --out "$built" --pfx "$work/cert.pfx" \
  --password-file "$work/password" --no-timestamp >/dev/null || { echo "FAIL scripts/package.sh"; exit 1; }
# A build of version 1.4.0: the same OCX files with 1.4.0.0 in their version resources' fixed parts.
for preset in i686 x86_64; do
  mkdir -p "$work/builds-1.4.0/$preset/bin"
  cp "$builds/$preset/source_date_epoch.txt" "$work/builds-1.4.0/$preset/"
  cp "$builds/$preset/bin/ZorvaneLib.ocx" "$work/builds-1.4.0/$preset/bin/"
  python3 - "$work/builds-1.4.0/$preset/bin/ZorvaneLib.ocx" <<'EOF' || { echo "FAIL making the 1.4.0 build"; exit 1; }
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO: file version, then product version
assert at > 0
struct.pack_into("<IIII", data, at + 8, 1 << 16 | 4, 0, 1 << 16 | 4, 0)
open(sys.argv[1], "wb").write(data)
EOF
done
cp "$builds/x86_64/bin/package_rows.exe" "$work/builds-1.4.0/x86_64/bin/"
"$scripts/package.sh" --builds "$work/builds-1.4.0" --wine-dir "$dir" --out "$lower" --cert "$work/cert.pem" \
  --key "$work/key.pem" --no-timestamp >/dev/null || { echo "FAIL scripts/package.sh of the 1.4.0 build"; exit 1; }
# A version other than the OCX files' is refused before anything is built.
for asked in 1.4.0 "$version"; do
  [ "$asked" = 1.4.0 ] && from=$builds || from=$work/builds-1.4.0
  if "$scripts/package.sh" --builds "$from" --version "$asked" --wine-dir "$dir" --out "$work/refused" \
    >/dev/null 2>&1 || [ -e "$work/refused" ]; then
    fail "--version $asked was not refused for OCX files of another version"
  else
    ok "--version $asked is refused for OCX files of another version"
  fi
done
# Signing without a timestamp, not asked for, is refused before anything is built.
if "$scripts/package.sh" --no-build --wine-dir "$dir" --out "$work/refused" --pfx "$work/cert.pfx" \
  --password-file "$work/password" >/dev/null 2>&1 || [ -e "$work/refused" ]; then
  fail "signing without a timestamp was not refused"
else
  ok "signing without a timestamp is refused"
fi
verified() { osslsigncode verify -in "$1" -CAfile "$work/cert.pem" >/dev/null 2>&1; }
for package in "$built"/*.msi "$lower"/*.msi; do
  if verified "$package"; then ok "signed: $(basename "$package")"; else fail "signature of $package"; fi
done
# The validation rules Windows Installer's own tools apply and wixl does not, read from the tables.
if "$here/ice_rules.sh" "$built"/*.msi; then :; else fail "the validation rules"; fi
# What the tables say: the version; the product code, derived from the package's name as README says; the OCX
# files' versions and language, from their version resources (so that Windows Installer's file versioning
# applies), with no hash rows; and the major upgrade including the same version.
namespace=$(sed -n 's/^product_namespace=//p' "$scripts/package.sh")
table() { msiinfo export "$1" "$2" 2>/dev/null | tr -d '\r' | tail -n +4; }
for package in "$built"/*.msi "$lower"/*.msi; do
  name=$(basename "$package" .msi)
  package_version=${name#ZorvaneLib-} kind=${name#ZorvaneLib-*-}
  package_version=${package_version%%-*}
  property() { table "$package" Property | awk -F '\t' -v p="$1" '$1 == p { print $2 }'; }
  code=$(python3 "$scripts/../packaging/package_tool.py" uuid5 "$namespace" "$name")
  files="ocx32=$package_version.0/1033"
  case "$kind" in x64|user-x64) files+=" ocx64=$package_version.0/1033" ;; esac
  expect "$name: version, product code, file versions, hash rows, upgrade row" \
    "$package_version {$code} $files 0 $package_version/513" \
    "$(property ProductVersion) $(property ProductCode) $(table "$package" File |
       awk -F '\t' '{ print $1 "=" $5 "/" $6 }' | LC_ALL=C sort | paste -sd ' ') $(table "$package" MsiFileHash |
       wc -l) $(table "$package" Upgrade | awk -F '\t' '$7 == "WIX_UPGRADE_DETECTED" { print $3 "/" $5 }')"
  # Where a package holds both OCX, each component registers the class and the type library with its own file,
  # the 64-bit one as a 64-bit component (the 64-bit view of the registry), the 32-bit one in the 32-bit view.
  case "$kind" in x64|user-x64)
    root=2
    [ "$kind" = user-x64 ] && root=1  # HKCU
    expect "$name: each OCX registered with its own file, in its own view" \
      "ocx32/0:$root:InprocServer32=[#ocx32] ocx32/0:$root:win32=[#ocx32] ocx64/256:$root:InprocServer32=[#ocx64] ocx64/256:$root:win64=[#ocx64]" \
      "$(awk -F '\t' 'FILENAME == ARGV[1] { bits[$1] = int($4 / 256) % 2 * 256; next }
                      $4 == "" && $3 ~ /(\\InprocServer32|\\0\\win32|\\0\\win64)$/ {
                        n = split($3, parts, "\\"); print $6 "/" bits[$6] ":" $2 ":" parts[n] "=" $5 }' \
         <(table "$package" Component) <(table "$package" Registry) | LC_ALL=C sort | paste -sd ' ')"
  esac
done

# Shows the installed file's version, whether this host creates the control, and the installed products of an
# upgrade code with their versions.
cat >"$work/check.vbs" <<'EOF'
Set fso = CreateObject("Scripting.FileSystemObject")
file = WScript.Arguments(0)
If fso.FileExists(file) Then WScript.Echo fso.GetFileVersion(file) Else WScript.Echo "no file"
On Error Resume Next
Set z = CreateObject("ZorvaneLib.Zorvane")
v = z.WindowsMajorVersion
If Err.Number = 0 Then WScript.Echo "created" Else WScript.Echo "not created"
On Error Goto 0
Set installer = CreateObject("WindowsInstaller.Installer")
For Each product In installer.RelatedProducts(WScript.Arguments(1))
  WScript.Echo "product " & installer.ProductInfo(product, "VersionString")
Next
EOF
# The product codes installed for an upgrade code, one a line.
cat >"$work/codes.vbs" <<'EOF'
Set installer = CreateObject("WindowsInstaller.Installer")
For Each product In installer.RelatedProducts(WScript.Arguments(0))
  WScript.Echo product
Next
EOF
# A package with nothing of ours: Wine's msiexec makes its own keys at its first install.
cat >"$work/warm-up.wxs" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Warm-up" Language="1033" Version="1.0.0" Manufacturer="Test"
           UpgradeCode="5C5C1C55-0D4A-4F57-9E4B-3A1B7C0D2E6F">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="$(var.Scope)" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Component Id="warm_up" Guid="0B8E6F43-6A2C-4C1E-8D57-2E9F1A3B4C5D">
        <RegistryValue Root="HKCU" Key="Software\ZorvaneLib warm-up" Name="Installed" Value="1" Type="string"
                       KeyPath="yes" />
      </Component>
    </Directory>
    <Feature Id="warm_up" Level="1"><ComponentRef Id="warm_up" /></Feature>
  </Product>
</Wix>
EOF
for scope in perMachine perUser; do
  wixl -D Scope=$scope -o "$work/warm-up-$scope.msi" "$work/warm-up.wxs" 2>/dev/null ||
    { echo "FAIL building the warm-up package"; exit 1; }
done

# Programs of the prefix: its own (msiexec, regedit), 32-bit and 64-bit ones.
native() { timeout 60 "$scripts/wine_run.sh" "$prefix_arch" "$dir" "$@" 2>/dev/null; }
bits() { # <32|64> <program> [args...]
  local arch=win64
  if [ "$1" = 32 ]; then arch=wow64; [ "$prefix_arch" = win32 ] && arch=win32; fi
  shift
  timeout 60 "$scripts/wine_run.sh" "$arch" "$dir" "$@" 2>/dev/null
}
unix_path() { local p=${1#C:}; printf '%s/prefix/drive_c%s' "$dir" "${p//\\//}"; }
msiexec() { native msiexec "$@" /qn; }
check() { # <bits> <file> <upgrade code>: check.vbs's answer on one line
  (cd "$work" && bits "$1" cscript //nologo check.vbs "$2" "$3" | tr -d '\r' | paste -sd ' ')
}
codes() { # <upgrade code>: the installed product codes on one line
  (cd "$work" && native cscript //nologo codes.vbs "$1" | tr -d '\r' | paste -sd ' ')
}
product_code() { # <kind> [<version>]: as README says it is derived
  printf '{%s}' "$(python3 "$scripts/../packaging/package_tool.py" uuid5 "$namespace" "ZorvaneLib-${2:-$version}-$1")"
}

# The prefix's classes keys, one line per key and per value (key, tab, value), keys in lower case (the
# registry ignores case), sorted; and the names of its files and folders (Windows Installer's cached copy of a
# package, whose name is new at each install, as one name).
snapshot() { # <name>
  local keys=('HKEY_LOCAL_MACHINE\Software\Classes' 'HKEY_CURRENT_USER\Software\Classes') i
  [ "$prefix_arch" = win64 ] && keys+=('HKEY_LOCAL_MACHINE\Software\Wow6432Node\Classes')
  for i in "${!keys[@]}"; do
    rm -f "$work/export$i.reg"
    native regedit /E "Z:${work//\//\\}\\export$i.reg" "${keys[$i]}" >/dev/null &
  done
  wait
  for i in "${!keys[@]}"; do
    [ -f "$work/export$i.reg" ] || { echo "[no ${keys[$i]}]"; continue; }
    iconv -f UTF-16LE -t UTF-8 "$work/export$i.reg" | tr -d '\r' | sed -e '1s/^\xEF\xBB\xBF//' |
      awk '/^\[/ { key = tolower($0); print key; next }
           /^$|^Windows Registry Editor/ { next }
           { line = $0
             while (line ~ /,\\$/ && (getline more) > 0) line = substr(line, 1, length(line) - 1) more
             print key "\t" line }'
  done | LC_ALL=C sort >"$work/$1.reg"
  (cd "$dir/prefix/drive_c" && find . | LC_ALL=C sort |
     sed 's|^\./windows/Installer/[^/]*\.msi$|./windows/Installer/(package)|') >"$work/$1.files"
}
# Lines of a snapshot that another lacks, without Windows Installer's own records of its products.
added() { # <name> <since>
  LC_ALL=C comm -13 "$work/$2.reg" "$work/$1.reg" | grep -v '^\[hkey_local_machine\\software\\classes\\installer\\'
}
same() { # <what> <name> <expected name>
  if diff -u "$work/$3.reg" "$work/$2.reg" >"$work/$2.diff" &&
     diff -u "$work/$3.files" "$work/$2.files" >>"$work/$2.diff"
  then ok "$1"
  else fail "$1:"; head -30 "$work/$2.diff"
  fi
}
same_as_installed() { # <what> <name>: the same keys added since before, and the same files
  if diff -u <(added installed before) <(added "$2" before) >"$work/$2.diff" &&
     diff -u "$work/installed.files" "$work/$2.files" >>"$work/$2.diff"
  then ok "$1"
  else fail "$1:"; head -30 "$work/$2.diff"
  fi
}
# What regsvr32 added, as a package of <kind>:<prefix arch> writes it.
as_packaged() {
  local machine='\[hkey_local_machine\\software\\(classes\\wow6432node|wow6432node\\classes|classes)\\'
  local helpdir='\[hkey_current_user\\software\\classes\\typelib\\[^]]*\\helpdir\]'
  case "$1" in
    x86:win64)  # an x86 package cannot write the 64-bit view, where RegisterTypeLib also lists the interfaces
      grep -v '^\[hkey_local_machine\\software\\classes\\interface\\' ;;
    user*:*)  # Wine's RegisterTypeLibForUser writes the machine's classes, Windows' the user's, where the package
      # writes them; the help folder as Windows Installer names a folder, with a final backslash
      sed -E -e "s/^$machine/[hkey_current_user\\\\software\\\\classes\\\\/" \
        -e "s/^($helpdir\t@=\".*)\"$/\\1\\\\\\\\\"/" ;;
    *) cat ;;
  esac
}
# Wine's msiexec writes a 32-bit component's ProgID into the 32-bit view; Windows keeps ProgIDs in one key that
# both views share, where regsvr32 writes them under Wine too.
shared_progid() {
  local view32='\[hkey_local_machine\\software\\(classes\\wow6432node|wow6432node\\classes)\\'
  sed -E "s/^$view32(zorvanelib\\.zorvane)/[hkey_local_machine\\\\software\\\\classes\\\\\\2/"
}
# The lines, and every classes key above their keys as a line of its own.
with_parents() {
  awk -F '\t' '{ print } /^\[/ { key = $1; sub(/\]$/, "", key)
                  while (match(key, /\\[^\\]*$/)) {
                    key = substr(key, 1, RSTART - 1)
                    if (key !~ /\\classes/) break
                    print key "]" } }'
}

# One kind of package in a fresh prefix. <files>: where each of its OCX goes, as "<bits>=<Windows path>".
check_kind() { # <kind> <prefix arch> <upgrade code> <files>...
  local kind=$1 upgrade=$3 package=$built/ZorvaneLib-$version-$1.msi entry path created=created
  prefix_arch=$2
  shift 3
  local files=("$@")
  [[ $kind == user* ]] && created="not created"  # Wine creates nothing from the user's classes
  echo "== $kind package in a $prefix_arch prefix"
  "$scripts/test_prefix.sh" up "$dir" "$prefix_arch" || { fail "$kind: no prefix"; return; }
  local scope=perMachine
  [[ $kind == user* ]] && scope=perUser
  msiexec /i "$work/warm-up-$scope.msi" && msiexec /x "$work/warm-up-$scope.msi"
  for entry in "${files[@]}"; do check "${entry%%=*}" "${entry#*=}" "$upgrade" >/dev/null; done
  codes "$upgrade" >/dev/null  # the prefix's own 64-bit script host, which makes its keys at its first run too
  snapshot before

  msiexec /i "$(winpath "$package")" || fail "$kind: msiexec /i exits $?"
  snapshot installed
  for entry in "${files[@]}"; do
    path=$(unix_path "${entry#*=}")
    cp "$path" "$work/$kind-${entry%%=*}.ocx" || { fail "$kind: nothing installed at ${entry#*=}"; continue; }
    verified "$path" || fail "$kind: the installed ${entry%%=*}-bit OCX is not signed"
    expect "$kind: ${entry%%=*}-bit host" "$version.0 $created product $version" \
      "$(check "${entry%%=*}" "${entry#*=}" "$upgrade")"
  done
  expect "$kind: the product code derived from the kind and version" "$(product_code "$kind")" "$(codes "$upgrade")"

  # The same package installed again is the same product, left as it was.
  msiexec /i "$(winpath "$package")" || fail "$kind: installing the same package again exits $?"
  expect "$kind: installed again, one product" "$(product_code "$kind")" "$(codes "$upgrade")"
  snapshot again
  same_as_installed "$kind: installed again as installed" again

  # Repair puts back what was deleted.
  for entry in "${files[@]}"; do rm -f "$(unix_path "${entry#*=}")"; done
  msiexec /i "$(winpath "$package")" REINSTALL=ALL REINSTALLMODE=omus || fail "$kind: repair exits $?"
  for entry in "${files[@]}"; do
    cmp -s "$work/$kind-${entry%%=*}.ocx" "$(unix_path "${entry#*=}")" &&
      ok "$kind: repair put back ${entry#*=}" || fail "$kind: repair did not put back ${entry#*=}"
  done
  snapshot repaired
  same_as_installed "$kind: repaired as installed" repaired

  msiexec /x "$(winpath "$package")" || fail "$kind: msiexec /x exits $?"
  snapshot removed
  same "$kind: uninstalled, the classes keys and files are as before" removed before

  # What regsvr32 leaves for the same files at the same places.
  local user=()
  [ "$kind" = user ] && user=(/n /i:user)
  for entry in "${files[@]}"; do
    path=$(unix_path "${entry#*=}")
    mkdir -p "$(dirname "$path")" && cp "$work/$kind-${entry%%=*}.ocx" "$path"
    bits "${entry%%=*}" regsvr32 /s "${user[@]}" "${entry#*=}" || fail "$kind: regsvr32 ${entry#*=} exits $?"
  done
  snapshot registered
  for entry in "${files[@]}"; do bits "${entry%%=*}" regsvr32 /s /u "${user[@]}" "${entry#*=}"; done
  (cd "$dir/prefix/drive_c" && LC_ALL=C comm -13 "$work/before.files" <(find . | LC_ALL=C sort) | sort -r |
     while read -r made; do rm -rf "$made"; done)
  added registered before | as_packaged "$kind:$prefix_arch" | with_parents | LC_ALL=C sort -u |
    LC_ALL=C comm -13 "$work/before.reg" - >"$work/expected"
  added installed before | shared_progid | LC_ALL=C sort -u >"$work/seen"
  if [ "$kind" = user-x64 ]; then
    # What Wine cannot show: it keeps one view of the user's classes for 32-bit and 64-bit programs, where 64-bit
    # Windows gives 32-bit ones HKCU\Software\Classes\Wow6432Node for CLSID and Interface. So the values of the
    # class that name each component's file (InprocServer32, ToolboxBitmap32) share one key here, and the 64-bit
    # component's, written last, are what is left; HELPDIR, which regsvr32 of both files leaves empty here, is
    # shared on Windows too. Those values are left out of the comparison; the tables check above shows each
    # component's rows naming its own file.
    local one_view='\\clsid\\\{[^}]*\}\\(inprocserver32|toolboxbitmap32)\]'$'\t''@=|\\helpdir\]'$'\t''@='
    for list in expected seen; do
      grep -v -E "$one_view" "$work/$list" >"$work/$list.tmp"; mv "$work/$list.tmp" "$work/$list"
    done
  fi
  if [ "$arch32" = none ]; then  # only the 64-bit OCX could be registered: leave out the 32-bit one's rows
    grep -v -E -e 'wow6432node(\\classes)?\\clsid\\' -e '\\0\\win32\]' "$work/seen" >"$work/seen.tmp"
    mv "$work/seen.tmp" "$work/seen"
  fi
  if diff -u "$work/expected" "$work/seen" >"$work/rows.diff"; then
    ok "$kind: the package writes the keys regsvr32${user[*]:+ ${user[*]}} writes ($(wc -l <"$work/seen") lines)"
  else
    fail "$kind: the package's keys differ from regsvr32's:"; head -30 "$work/rows.diff"
  fi

  # A later version replaces an earlier one.
  msiexec /i "$(winpath "$lower/ZorvaneLib-1.4.0-$kind.msi")" || fail "$kind: installing 1.4.0 exits $?"
  entry=${files[0]}
  expect "$kind: 1.4.0 installed" "1.4.0.0 $created product 1.4.0" \
    "$(check "${entry%%=*}" "${entry#*=}" "$upgrade")"
  msiexec /i "$(winpath "$package")" || fail "$kind: upgrading exits $?"
  expect "$kind: upgraded, only $version is installed" "$version.0 $created product $version" \
    "$(check "${entry%%=*}" "${entry#*=}" "$upgrade")"
  snapshot upgraded
  same_as_installed "$kind: upgraded as installed" upgraded
  msiexec /x "$(winpath "$package")" || fail "$kind: msiexec /x after the upgrade exits $?"
  snapshot upgraded_removed
  same "$kind: upgraded and uninstalled, as before" upgraded_removed before

  # A package of the same version with a product code of its own (as every build made before product codes were
  # derived) is replaced by this one: one product is left.
  local earlier=$work/$kind-earlier.msi earlier_code
  earlier_code="{$(python3 -c 'import uuid; print(str(uuid.uuid4()).upper())')}"
  cp "$package" "$earlier"
  msibuild "$earlier" -q "UPDATE \`Property\` SET \`Value\` = '$earlier_code' WHERE \`Property\` = 'ProductCode'" &&
    python3 "$scripts/../packaging/package_tool.py" finish "$earlier" 0 "$namespace" earlier >/dev/null ||
    fail "$kind: making the earlier same-version package"
  msiexec /i "$(winpath "$earlier")" || fail "$kind: installing the earlier same-version package exits $?"
  expect "$kind: the earlier same-version package installed" "$earlier_code" "$(codes "$upgrade")"
  msiexec /i "$(winpath "$package")" || fail "$kind: installing over the earlier same-version package exits $?"
  expect "$kind: installed over the same version, one product" "$(product_code "$kind")" "$(codes "$upgrade")"
  snapshot same_version
  same_as_installed "$kind: installed over the same version as installed" same_version
  msiexec /x "$(winpath "$package")" || fail "$kind: msiexec /x after the same-version upgrade exits $?"
  snapshot same_version_removed
  same "$kind: installed over the same version and uninstalled, as before" same_version_removed before
  "$scripts/test_prefix.sh" down "$dir" "$prefix_arch"
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }

upgrade_code() { # <kind>: from the package's source
  sed -n "/<?if \$(var.Kind) = \"\\?$1\"\\? ?>/,/<?endif ?>/s/.*UpgradeCode = \"\\([^\"]*\\)\".*/{\\1}/p" \
    "$scripts/../packaging/ZorvaneLib.wxs"
}
shared='Common Files\ZorvaneLib\ZorvaneLib.ocx'
templates=${ZV_WINE_TEMPLATES:-$(dirname "$dir")}  # where test_prefix.sh keeps the booted prefixes
wine_user=$(ls "$templates/wine-template-win64/drive_c/users" | grep -vx Public | head -n 1)  # Wine's name for this user
user_folder="C:\\users\\$wine_user\\AppData\\Local\\Programs\\Common\\ZorvaneLib"
case "$arch32" in
  win32) check_kind x86 win32 "$(upgrade_code x86)" "32=C:\\Program Files\\$shared" ;;
  wow64) check_kind x86 win64 "$(upgrade_code x86)" "32=C:\\Program Files (x86)\\$shared" ;;
esac
if [ "$arch32" = none ]; then
  echo "SKIP no 32-bit program runs here (scripts/wine32_route.sh says why): the x86 and both per-user packages" \
       "and the x64 package's 32-bit OCX are not checked"
  check_kind x64 win64 "$(upgrade_code x64)" "64=C:\\Program Files\\$shared"
else
  check_kind x64 win64 "$(upgrade_code x64)" "64=C:\\Program Files\\$shared" \
    "32=C:\\Program Files (x86)\\$shared"
  check_kind user win64 "$(upgrade_code user)" "32=$user_folder\\ZorvaneLib.ocx"
  check_kind user-x64 win64 "$(upgrade_code user-x64)" "32=$user_folder\\ZorvaneLib.ocx" \
    "64=$user_folder\\x64\\ZorvaneLib.ocx"
fi
exit $status
