#!/usr/bin/env bash
# Checks Windows Installer packages against the validation rules (ICEs) that can be read from their tables, which
# wixl does not run: ICE03 (keys and GUIDs well formed), ICE08 (no component GUID twice), ICE09 (nothing
# non-permanent in the system folders), ICE18 (every component has a key path), ICE30 (no file installed twice to
# one place), ICE33 (COM registration in the Registry table: allowed, said), ICE38 and ICE43 (components and
# shortcuts in the user profile keep an HKCU key path), ICE57 (no component mixes per-user and per-machine data),
# ICE64 (every folder in the user profile removed at uninstall), ICE91 (profile files only in per-user packages).
#   usage: ice_rules.sh <package.msi>...
set -uo pipefail
status=0
table() { # <msi> <table>: its rows, without the three header lines
  msiinfo export "$1" "$2" 2>/dev/null | tr -d '\r' | tail -n +4
}
for msi in "$@"; do
  name=$(basename "$msi")
  work=$(mktemp -d)
  for t in Component Directory File Registry RemoveFile Property Shortcut CreateFolder; do table "$msi" "$t" >"$work/$t"; done
  problems=$(awk -F'\t' -v work="$work" '
    function profile(d) {  # whether directory d lies in the user profile
      while (d != "" && d != "TARGETDIR") {
        if (d ~ /^(LocalAppDataFolder|AppDataFolder|PersonalFolder|DesktopFolder|StartMenuFolder|ProgramMenuFolder|StartupFolder|TempFolder|FavoritesFolder|SendToFolder|TemplateFolder|MyPicturesFolder)$/) return 1
        d = parent[d]
      }
      return 0
    }
    function system_folder(d) {
      while (d != "" && d != "TARGETDIR") { if (d ~ /^(SystemFolder|System64Folder|System16Folder|WindowsFolder)$/) return 1; d = parent[d] }
      return 0
    }
    function where(d) { return d == "" || d == "TARGETDIR" ? "" : where(parent[d]) "\\" dir_name[d] }
    FILENAME == work "/Directory" { parent[$1] = $2; n = split($3, names, "|"); dir_name[$1] = names[n] == "." ? $1 : names[n]; next }
    FILENAME == work "/Property" { property[$1] = $2; next }
    FILENAME == work "/Component" {
      component[$1] = 1; comp_dir[$1] = $3; attributes[$1] = $4; keypath[$1] = $6
      if ($1 == "" || length($2) != 38 || $2 !~ /^\{[0-9A-F-]+\}$/ || substr($2, 10, 1) != "-" ||
          substr($2, 15, 1) != "-" || substr($2, 20, 1) != "-" || substr($2, 25, 1) != "-")
        print "ICE03: component " $1 " has the GUID \"" $2 "\", not an upper-case braced GUID"
      if (guid_of[$2] != "") print "ICE08: components " guid_of[$2] " and " $1 " share the GUID " $2
      guid_of[$2] = $1
      next
    }
    FILENAME == work "/File" { file_comp[$1] = $2; n = split($3, names, "|"); file_name[$1] = names[n]; next }
    FILENAME == work "/Registry" {
      reg_comp[$1] = $6; reg_root[$1] = $2; reg_key[$1] = $3
      if ($2 == 1) hkcu[$6] = 1; else if ($2 == 2) hklm[$6] = 1
      if ($3 ~ /^Software\\Classes\\(CLSID|TypeLib|Interface)\\/ || $3 ~ /^(CLSID|TypeLib|Interface)\\/) com_rows++
      next
    }
    FILENAME == work "/RemoveFile" { if ($3 == "") removed[$4] = 1; next }
    FILENAME == work "/CreateFolder" { created[$2] = 1; next }
    FILENAME == work "/Shortcut" { shortcut_dir[$1] = $2; shortcut_comp[$1] = $4; next }
    END {
      per_user_package = property["ALLUSERS"] == "" || property["MSIINSTALLPERUSER"] == "1"
      for (c in component) {
        d = comp_dir[c]
        if (system_folder(d) && int(attributes[c]) % 32 < 16) print "ICE09: component " c " in a system folder is not permanent"
        if (keypath[c] == "" && !created[c]) print "ICE18: component " c " has no key path"
        if (profile(d)) {
          if (!(keypath[c] in reg_comp) || reg_root[keypath[c]] != 1)
            print "ICE38: component " c " in the user profile has no HKCU registry value as its key path"
          if (hklm[c]) print "ICE57: component " c " in the user profile also writes the machine registry"
        } else if (hkcu[c]) {
          print "ICE57: component " c " outside the user profile writes HKCU"
        }
      }
      for (f in file_comp) {
        target = tolower(where(comp_dir[file_comp[f]]) "\\" file_name[f])
        if (seen[target] != "" && file_comp[seen[target]] != file_comp[f]) print "ICE30: files " seen[target] " and " f " are both " target
        seen[target] = f
        if (profile(comp_dir[file_comp[f]]) && !per_user_package) print "ICE91: file " f " in the user profile of a per-machine package"
      }
      for (s in shortcut_dir)
        if (profile(shortcut_dir[s]) && (!(keypath[shortcut_comp[s]] in reg_comp) || reg_root[keypath[shortcut_comp[s]]] != 1))
          print "ICE43: shortcut " s " in the user profile without an HKCU key path"
      for (d in parent)
        if (profile(d) && d !~ /Folder$/ && !removed[d]) print "ICE64: folder " d " in the user profile is not removed at uninstall"
      if (com_rows) print "note ICE33: " com_rows " COM rows in the Registry table (the library'"'"'s own registration, on purpose)"
    }' "$work/Directory" "$work/Property" "$work/Component" "$work/File" "$work/Registry" "$work/RemoveFile" \
      "$work/CreateFolder" "$work/Shortcut")
  rm -rf "$work"
  if grep -qv '^note ' <<<"$problems"; then
    grep -v '^note ' <<<"$problems" | sed "s/^/FAIL $name: /"
    status=1
  else
    echo "ok $name: ICE03 08 09 18 30 38 43 57 64 91 hold${problems:+ ($(sed 's/^note //' <<<"$problems"))}"
  fi
done
exit $status
