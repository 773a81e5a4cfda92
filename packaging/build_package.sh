#!/usr/bin/env bash
# build_package.sh ARCH OUT_MSI STAGE_DIR VERSION MANUFACTURER FILE...
# Builds the demo installation package for ARCH (x86 or x64) from kvo-demo.wxs beside this script:
# stages the FILEs (the deliverables of bin) and the default data, lists the bin files for the
# package, runs wixl, and adds what wixl has no elements for with msibuild: the Error table, the
# Condition table, the rollback type of KTA_SaveINSTALLDIRUpgRBCA, and the version of each image in
# the File table. VERSION is the product's version (major.minor.patch.tweak): the package's version
# is its first three fields, the version it registers for the product its first two.
set -euo pipefail
arch=$1 out=$2 stage=$3 version=$4 manufacturer=$5
shift 5
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$stage"
mkdir -p "$stage/bin"
cp "$@" "$stage/bin/"
cp -r "$here/defaults" "$stage/defaults"
cp "$here/kvo-demo.wxs" "$stage/"

# The File table key of a staged file of bin.
file_id() { echo "bin_$(basename "$1" | tr -c 'A-Za-z0-9_.\n' '_')"; }

# One File element per staged file of bin (the first is the component's key path).
{
  echo '<Include>'
  for f in "$stage"/bin/*; do
    name=$(basename "$f")
    echo "  <File Id=\"$(file_id "$f")\" Name=\"$name\" Source=\"bin/$name\"/>"
  done
  echo '</Include>'
} > "$stage/bin.wxi"

if [ "$arch" = "x64" ]; then
  program_files=ProgramFiles64Folder win64=yes
else
  program_files=ProgramFilesFolder win64=no
fi
out=$(realpath -m "$out")
mkdir -p "$(dirname "$out")"
tmp="$out.tmp"
rm -f "$tmp"
# wixl takes the sources relative to the .wxs file.
IFS=. read -r major minor patch _ <<<"$version"
wixl -a "$arch" -D ProgramFiles="$program_files" -D Win64="$win64" -D Manufacturer="$manufacturer" \
  -D ProductVersion="$major.$minor.$patch" -D RegisteredVersion="$major.$minor" \
  -o "$tmp" "$stage/kvo-demo.wxs"
msibuild "$tmp" -i "$here/Error.idt"
msibuild "$tmp" -i "$here/Condition.idt"
# Rollback (256) and in-script (1024) for the DLL action (1), without impersonation (2048),
# its result ignored (64).
msibuild "$tmp" -q "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'KTA_SaveINSTALLDIRUpgRBCA'"
# wixl leaves the File table's Version and Language empty. The installer's file-versioning rules
# compare a versioned file by them: each image gets the file version of its version resource (the
# fixed part, VS_FIXEDFILEINFO, found by its signature and structure version) and that resource's
# language, US English.
for f in "$stage"/bin/*.exe "$stage"/bin/*.dll; do
  offset=$(LC_ALL=C grep -obUaP '\xBD\x04\xEF\xFE\x00\x00\x01\x00' "$f" | head -1 | cut -d: -f1)
  [ -n "$offset" ] || { echo "build_package.sh: $f has no version resource" >&2; exit 1; }
  # dwFileVersionMS and dwFileVersionLS: minor, major, tweak, patch as 16-bit words.
  read -r w0 w1 w2 w3 <<<"$(od -An -tu2 -j $((offset + 8)) -N 8 "$f")"
  msibuild "$tmp" -q "UPDATE \`File\` SET \`Version\` = '$w1.$w0.$w3.$w2', \`Language\` = '1033' WHERE \`File\` = '$(file_id "$f")'"
done
mv "$tmp" "$out"
