#!/usr/bin/env bash
# build_package.sh ARCH OUT_MSI STAGE_DIR VERSION MANUFACTURER FILE...
# Builds the demo installation package for ARCH (x86 or x64) from kvo-demo.wxs beside this script:
# stages the FILEs (the deliverables of bin and the code-page mapping files) and the default data,
# lists the mapping files for the package, runs wixl, and adds what wixl has no elements for with
# msibuild: the Error, Condition and MsiLockPermissionsEx tables, the rollback type of the rollback
# actions, feature migration on upgrade, the secure properties, and the version of each image in the
# File table. VERSION is the product's version (major.minor.patch.tweak): the package's version is
# its first three fields, the version it registers for the product its first two.
set -euo pipefail
arch=$1 out=$2 stage=$3 version=$4 manufacturer=$5
shift 5
here=$(cd "$(dirname "$0")" && pwd)

# Every version of the product: one upgrade code.
upgrade_code='{3F6A2C1D-8B4E-4D7A-9E21-5C0B7A9D4E32}'

rm -rf "$stage"
mkdir -p "$stage/bin"
cp "$@" "$stage/bin/"
cp -r "$here/defaults" "$stage/defaults"
cp "$here/kvo-demo.wxs" "$stage/"

# Every program and library of bin has its own component in kvo-demo.wxs.
for f in "$stage"/bin/*.exe "$stage"/bin/*.dll; do
  grep -q "Source=\"bin/$(basename "$f")\"" "$here/kvo-demo.wxs" ||
    { echo "build_package.sh: kvo-demo.wxs has no component for $(basename "$f")" >&2; exit 1; }
done
# The mapping files: one component, keyed on the file of code page 1252.
{
  echo '<Include>'
  for f in "$stage"/bin/*.UNI; do
    name=$(basename "$f") key=
    [ "$name" = CP1252.UNI ] && key=' KeyPath="yes"'
    echo "  <File Id=\"bin_$name\" Name=\"$name\" Source=\"bin/$name\"$key/>"
  done
  echo '</Include>'
} > "$stage/codepages.wxi"

if [ "$arch" = "x64" ]; then
  program_files=ProgramFiles64Folder win64=yes component_set=9E64
else
  program_files=ProgramFilesFolder win64=no component_set=9E21
fi
IFS=. read -r major minor patch _ <<<"$version"
# A new product code for every version (a major upgrade needs one), the same for every build of a
# version: a name-based GUID (SHA-1) of the upgrade code and the package's version.
h=$(printf '%s %s' "$upgrade_code" "$major.$minor.$patch" | sha1sum | tr a-f A-F)
product_code="{${h:0:8}-${h:8:4}-5${h:13:3}-$(printf %X $(( (0x${h:16:1} & 3) | 8 )))${h:17:3}-${h:20:12}}"

out=$(realpath -m "$out")
mkdir -p "$(dirname "$out")"
tmp="$out.tmp"
rm -f "$tmp"
# wixl takes the sources relative to the .wxs file.
wixl -a "$arch" -D ProgramFiles="$program_files" -D Win64="$win64" -D Manufacturer="$manufacturer" \
  -D ProductVersion="$major.$minor.$patch" -D RegisteredVersion="$major.$minor" \
  -D ProductCode="$product_code" -D UpgradeCode="$upgrade_code" -D ComponentSet="$component_set" \
  -o "$tmp" "$stage/kvo-demo.wxs"
for table in Error Condition MsiLockPermissionsEx; do
  msibuild "$tmp" -i "$here/$table.idt"
done
q() { msibuild "$tmp" -q "$1"; }
# Rollback (256) and in-script (1024) for the DLL action (1), without impersonation (2048),
# its result ignored (64).
q "UPDATE \`CustomAction\` SET \`Type\` = 3393"\
"  WHERE \`Action\` = 'KTA_SaveINSTALLDIRUpgRBCA' OR \`Action\` = 'KTA_SeedDataRBCA'"
# An upgrade keeps the feature states of the older version (MigrateFeatures, 1, beside the
# inclusive minimum, 256). Attributes belong to the table's key: the row is written anew.
q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'OLDER_VERSION_FOUND'"
q "INSERT INTO \`Upgrade\`"\
" (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)"\
"  VALUES ('$upgrade_code', '0.0.0', '$major.$minor.$patch', 257, 'OLDER_VERSION_FOUND')"
# The public properties a managed installation passes from the command line to the installation
# itself: the folder, the response file, the data question, the invalid parameters, the note the
# response file sets, and the upgrade's and searches' results.
secure="OLDER_VERSION_FOUND;NEWER_VERSION_FOUND;INSTALLDIR;RSP;RSP_FROM_SOURCE;DELETEDATA;BADPARMS"
secure+=";KVO_DEMO_NOTE;PREVIOUS_ROOT_DIRECTORY;PREVIOUS_VERSION"
q "UPDATE \`Property\` SET \`Value\` = '$secure' WHERE \`Property\` = 'SecureCustomProperties'"
# wixl leaves the File table's Version and Language empty. The installer's file-versioning rules
# compare a versioned file by them: each image gets the file version of its version resource (the
# fixed part, VS_FIXEDFILEINFO, found by its signature and structure version) and that resource's
# language, US English.
for f in "$stage"/bin/*.exe "$stage"/bin/*.dll; do
  offset=$(LC_ALL=C grep -obUaP '\xBD\x04\xEF\xFE\x00\x00\x01\x00' "$f" | head -1 | cut -d: -f1)
  [ -n "$offset" ] || { echo "build_package.sh: $f has no version resource" >&2; exit 1; }
  # dwFileVersionMS and dwFileVersionLS: minor, major, tweak, patch as 16-bit words.
  read -r w0 w1 w2 w3 <<<"$(od -An -tu2 -j $((offset + 8)) -N 8 "$f")"
  q "UPDATE \`File\` SET \`Version\` = '$w1.$w0.$w3.$w2', \`Language\` = '1033'"\
"    WHERE \`File\` = 'bin_$(basename "$f")'"
done
mv "$tmp" "$out"
