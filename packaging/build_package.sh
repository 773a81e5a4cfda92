#!/usr/bin/env bash
# build_package.sh ARCH OUT_MSI STAGE_DIR FILE...
# Builds the demo installation package for ARCH (x86 or x64) from kvo-demo.wxs beside this script:
# stages the FILEs (the deliverables of bin) and the default data, lists the bin files for the
# package, runs wixl, and adds what wixl has no elements for with msibuild: the Error table, the
# Condition table, and the rollback type of KTA_SaveINSTALLDIRUpgRBCA.
set -euo pipefail
arch=$1 out=$2 stage=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$stage"
mkdir -p "$stage/bin"
cp "$@" "$stage/bin/"
cp -r "$here/defaults" "$stage/defaults"
cp "$here/kvo-demo.wxs" "$stage/"

# One File element per staged file of bin (the first is the component's key path).
{
  echo '<Include>'
  for f in "$stage"/bin/*; do
    name=$(basename "$f")
    id="bin_$(echo "$name" | tr -c 'A-Za-z0-9_.\n' '_')"
    echo "  <File Id=\"$id\" Name=\"$name\" Source=\"bin/$name\"/>"
  done
  echo '</Include>'
} > "$stage/bin.wxi"

if [ "$arch" = "x64" ]; then
  program_files=ProgramFiles64Folder win64=yes
else
  program_files=ProgramFilesFolder win64=no
fi
out=$(realpath -m "$out")
tmp="$out.tmp"
rm -f "$tmp"
# wixl takes the sources relative to the .wxs file.
wixl -a "$arch" -D ProgramFiles="$program_files" -D Win64="$win64" -o "$tmp" "$stage/kvo-demo.wxs"
msibuild "$tmp" -i "$here/Error.idt"
msibuild "$tmp" -i "$here/Condition.idt"
# Rollback (256) and in-script (1024) for the DLL action (1), without impersonation (2048),
# its result ignored (64).
msibuild "$tmp" -q "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'KTA_SaveINSTALLDIRUpgRBCA'"
mv "$tmp" "$out"
