#!/usr/bin/env bash
# Checks that each staged launcher program of the architecture KVO_IMAGE_ARCH names imports
# kvoucd32.dll by ordinal only: ordinals 1, 3, 5, 8, 11.
#   check_launcher_imports.sh <objdump> <directory of the staged programs>
set -euo pipefail
source "$(dirname "$0")/../common/image_format.sh"
objdump="$1"
dir="$2"
status=0
for program in kvocli kvocon kvojavaw kvoconw; do
  image="$dir/$program.exe"
  if [ ! -f "$image" ]; then
    echo "$image: missing (run make build)"; status=1; continue
  fi
  expect_image_format "$objdump" "$image" || status=1
  # The import block of kvoucd32.dll: the lines after its "DLL Name" up to the next blank line.
  block=$("$objdump" -p "$image" | awk '/DLL Name: kvoucd32.dll/{on=1; next} on && /^[[:space:]]*$/{on=0; done=1} on && !done')
  if [ -z "$block" ]; then
    echo "$program: kvoucd32.dll is not imported"; status=1; continue
  fi
  entries=$(echo "$block" | awk 'NR>1 && NF>0')
  ordinals=$(import_ordinals <<<"$entries")
  names=$(echo "$entries" | awk 'NF>2 && $3!="<none>"')
  if [ "$ordinals" != "1 3 5 8 11 " ]; then
    echo "$program: ordinals are '$ordinals', expected '1 3 5 8 11 '"; echo "$block"; status=1
  elif [ -n "$names" ]; then
    echo "$program: imports by name:"; echo "$names"; status=1
  else
    echo "$program: kvoucd32.dll by ordinal only: $ordinals"
  fi
done
exit $status
