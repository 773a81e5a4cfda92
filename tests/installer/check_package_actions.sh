#!/usr/bin/env bash
# check_package_actions.sh OBJDUMP PACKAGE KTA_CA_DLL
# The package's tables, where Wine is more lenient or cannot show the effect: each DLL custom action
# names an export of kta_ca.dll (Wine skips a missing one, Windows fails: 1723); each program and
# library is its component's key path, with a version; message 25006 (shown unformatted) holds no
# [reference]; removal actions skip an upgrade's removal (Wine omits UPGRADINGPRODUCTCODE); the users
# may write log and tempdata (Wine's msi ignores MsiLockPermissionsEx), and no LockPermissions
# table is beside it (1941).
set -euo pipefail
source "$(dirname "$0")/../common/image_format.sh"
objdump=$1 package=$2 dll=$3
fail=0
[ -f "$package" ] || { echo "missing $package"; exit 1; }
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }
[ -z "${KVO_IMAGE_ARCH:-}" ] || expect_image_format "$objdump" "$dll" || fail=1

# CustomAction rows (after three header lines): Action, Type, Source, Target. Type bits 0-5 equal
# to 1: a DLL stored in the Binary table.
actions=$(msiinfo export "$package" CustomAction | tail -n +4 | tr -d '\r' |
          awk -F'\t' '$2 % 64 == 1 { print $1 "\t" $3 "\t" $4 }')
[ -n "$actions" ] || { echo "$package: no DLL custom actions"; exit 1; }

carried=$(mktemp -d)
trap 'rm -rf "$carried"' EXIT
dll_exports=$(export_names "$objdump" "$dll")
while IFS=$'\t' read -r action binary target; do
  [ -f "$carried/$binary" ] || msiinfo extract "$package" "Binary.$binary" > "$carried/$binary"
  if ! grep -qxF "$target" <<<"$dll_exports"; then
    echo "$action: $target is not an export of $dll"; fail=1
  fi
  if ! grep -qxF "$target" <<<"$(export_names "$objdump" "$carried/$binary")"; then
    echo "$action: $target is not an export of the package's Binary $binary"; fail=1
  fi
done <<<"$actions"

rows() { msiinfo export "$package" "$1" 2>/dev/null | tail -n +4 | tr -d '\r'; }
components=$(rows Component)
while IFS=$'\t' read -r file component name _ version _; do
  case "${name##*|}" in *.exe|*.dll) ;; *) continue ;; esac
  key=$(awk -F'\t' -v c="$component" '$1 == c { print $6 }' <<<"$components")
  [ "$key" = "$file" ] || { echo "$name: not the key path of its component $component"; fail=1; }
  [ -n "$version" ] || { echo "$name: no version in the File table"; fail=1; }
done < <(rows File)
! rows Error | grep -q $'^25006\t.*\\[' || { echo "message 25006 is shown unformatted but holds a [reference]"; fail=1; }
for sequence in InstallExecuteSequence InstallUISequence; do
  rows "$sequence" | awk -F'\t' '{ c = $2; gsub(/NOT REMOVE~="ALL"/, "", c) }
    c ~ /REMOVE~="ALL"/ && c !~ /NOT UPGRADINGPRODUCTCODE/ {
    print $1 ": runs when an upgrade removes an older version"; bad = 1 } END { exit bad }' || fail=1
done
for folder in LogDir TempdataDir; do
  rows MsiLockPermissionsEx | awk -F'\t' -v d="$folder" '$2 == d && $3 == "CreateFolder" && $4 ~ /\(A;OICI;0x1301bf;;;BU\)/ {
    found = 1 } END { exit !found }' || { echo "$folder: the users may not write it"; fail=1; }
done
! msiinfo tables "$package" | grep -qx LockPermissions || { echo "a LockPermissions table beside MsiLockPermissionsEx"; fail=1; }

[ $fail -eq 0 ] && echo "$(basename "$package"): $(wc -l <<<"$actions") DLL actions, each an export of kta_ca.dll; images keyed and versioned; texts, removal conditions and folder rights as shipped"
exit $fail
