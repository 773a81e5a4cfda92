#!/usr/bin/env bash
# check_package_actions.sh OBJDUMP PACKAGE KTA_CA_DLL
# Every custom action of the package that calls a DLL from its Binary table names an export of
# kta_ca.dll (checked on the DLL given and on the copy the package carries). Wine skips an entry
# point it cannot find and goes on ("Return value 1"); Windows fails the installation (1723).
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

[ $fail -eq 0 ] && echo "$(basename "$package"): $(wc -l <<<"$actions") DLL actions, each an export of kta_ca.dll"
exit $fail
