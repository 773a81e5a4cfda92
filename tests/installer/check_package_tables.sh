#!/usr/bin/env bash
# check_package_tables.sh PACKAGE
# The package's tables, where Wine is more lenient or cannot show the effect: each program and library
# is its component's key path; message 25006 (shown unformatted) holds no [reference]; removal actions
# skip an upgrade's removal (Wine omits UPGRADINGPRODUCTCODE); the users may write log and tempdata
# (Wine's msi ignores MsiLockPermissionsEx), and no LockPermissions table is beside it (1941). (Its DLL
# custom actions against kta_ca's exports: tests/release/check_exports.sh; the images' versions in the
# File table: tests/release/check_images.sh.)
set -euo pipefail
package=$1
fail=0
[ -f "$package" ] || { echo "missing $package"; exit 1; }

rows() { msiinfo export "$package" "$1" 2>/dev/null | tail -n +4 | tr -d '\r'; }
components=$(rows Component)
while IFS=$'\t' read -r file component name _; do
  case "${name##*|}" in *.exe|*.dll) ;; *) continue ;; esac
  key=$(awk -F'\t' -v c="$component" '$1 == c { print $6 }' <<<"$components")
  [ "$key" = "$file" ] || { echo "$name: not the key path of its component $component"; fail=1; }
done < <(rows File)
! rows Error | grep -q $'^25006\t.*\\[' ||
  { echo "message 25006 is shown unformatted but holds a [reference]"; fail=1; }
for sequence in InstallExecuteSequence InstallUISequence; do
  rows "$sequence" | awk -F'\t' '{ c = $2; gsub(/NOT REMOVE~="ALL"/, "", c) }
    c ~ /REMOVE~="ALL"/ && c !~ /NOT UPGRADINGPRODUCTCODE/ {
    print $1 ": runs when an upgrade removes an older version"; bad = 1 } END { exit bad }' || fail=1
done
for folder in LogDir TempdataDir; do
  rows MsiLockPermissionsEx |
    awk -F'\t' -v d="$folder" '$2 == d && $3 == "CreateFolder" && $4 ~ /\(A;OICI;0x1301bf;;;BU\)/ {
      found = 1 } END { exit !found }' || { echo "$folder: the users may not write it"; fail=1; }
done
! msiinfo tables "$package" | grep -qx LockPermissions ||
  { echo "a LockPermissions table beside MsiLockPermissionsEx"; fail=1; }

[ $fail -eq 0 ] &&
  echo "$(basename "$package"): images keyed; texts, removal conditions and folder rights as shipped"
exit $fail
