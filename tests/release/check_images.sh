#!/usr/bin/env bash
# check_images.sh WINDRES OBJDUMP IMAGE_DIR PACKAGE VERSION
# Each staged image of the architecture KVO_IMAGE_ARCH names carries the version resource of VERSION
# (fixed versions and the product's text version, its own file name as the original one) and the launchers' application
# manifest if it is a program (asInvoker, the supportedOS list of Windows 7 to 11, no activeCodePage),
# none if it is a DLL; the package's File table gives each image VERSION.
set -euo pipefail
source "$(dirname "$0")/../common/image_format.sh"
windres=$1 objdump=$2 dir=$3 package=$4 version=$5
supported_os="35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38
              1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"
fail=0
[ -f "$package" ] || { echo "missing $package (run make build)"; exit 1; }
files=$(msiinfo export "$package" File | tr -d '\r')
while read -r name manifest; do
  image=$dir/$name
  [ -f "$image" ] || { echo "missing $image (run make build)"; fail=1; continue; }
  expect_image_format "$objdump" "$image" || fail=1
  rc=$("$windres" -i "$image" -O rc 2>&1) || echo "$name: $rc"
  # (The text FileVersion, the company and the product as Windows programs read them:
  # version_info_test.cpp.)
  for line in " FILEVERSION ${version//./, }" " PRODUCTVERSION ${version//./, }" \
              "      VALUE \"ProductVersion\", \"$version\"" "      VALUE \"OriginalFilename\", \"$name\""; do
    grep -qxF "$line" <<<"$rc" || { echo "$name: no '$line' in its version resource"; fail=1; }
  done
  # Resource 1 of type 24, its text without the resource compiler's quoting.
  text=$(awk '/^1 24 /{on=1} on && /^END/{exit} on && /^  "/{sub(/^  "/, ""); sub(/(\\n)?"$/, "");
              gsub(/""/, "\""); print}' <<<"$rc")
  if [ "$manifest" = none ]; then
    [ -z "$text" ] || { echo "$name: carries a manifest"; fail=1; }
  else
    grep -q '<requestedExecutionLevel level="asInvoker"' <<<"$text" ||
      { echo "$name: not asInvoker"; fail=1; }
    for id in $supported_os; do
      grep -q "<supportedOS Id=\"{$id}\"/>" <<<"$text" || { echo "$name: no supportedOS $id"; fail=1; }
    done
    ! grep -q '<activeCodePage' <<<"$text" || { echo "$name: sets an activeCodePage"; fail=1; }
  fi
  packaged=$(awk -F'\t' -v name="$name" '$3 == name { print $5 }' <<<"$files")
  [ "$packaged" = "$version" ] || { echo "$name: version '$packaged' in $(basename "$package")"; fail=1; }
done < <(deliverable_images)

[ $fail -eq 0 ] && echo "${KVO_IMAGE_ARCH:-i686}: 7 images of version $version, the programs' manifests," \
  "the package's versions"
exit $fail
