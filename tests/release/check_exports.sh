#!/usr/bin/env bash
# check_exports.sh OBJDUMP IMAGE_DIR PACKAGE KVOUCD32_DEF KTA_CA_DEF JNI_HEADER... [-- CLIENT]
# The entry points of the staged images of the architecture KVO_IMAGE_ARCH names, each DLL's export
# table against its list, read from the images themselves (the lists are the facts; the .def files
# only make the images):
#  - kvoucd32.dll: exactly the 30 names of kvoucd32.def under their ordinals;
#  - nqfsfunc.dll: exactly the 43 natives of the JNI headers javac generates from the Java
#    declarations (a JVM looks each up by that name);
#  - kta_ca.dll: exactly the 19 actions of kta_ca.def, and every DLL custom action of the package
#    names one of them, in the package's own copy of the library too (Wine skips an action whose
#    entry point is missing, Windows fails the installation with 1723); it imports system libraries
#    only;
#  - every export name plain: a decorated _Name@N is an entry point a JVM or the installer never finds;
#  - kvoucd32 is imported by ordinal only (its import library marks every entry NONAME), with the
#    ordinals each client calls: the launchers 1, 3, 5, 8, 11 (Str), nqfsfunc 17 besides, and
#    CLIENT, a program of the build that calls every export through the import library, all 30.
set -euo pipefail
source "$(dirname "$0")/../common/image_format.sh"
objdump=$1 dir=$2 package=$3 kvoucd32_def=$4 kta_ca_def=$5
shift 5
headers=() client=
while [ $# -gt 0 ]; do
  if [ "$1" = -- ]; then client=${2:-}; break; fi
  headers+=("$1"); shift
done
fail=0
complain() { echo "$*"; fail=1; }

# The EXPORTS lines of a .def file: "ordinal name" where it gives "@ordinal", else "name".
def_list() {
  awk '/^EXPORTS/ { on = 1; next } on && NF && $1 !~ /^;/ {
         if ($2 ~ /^@[0-9]+$/) { sub("@", "", $2); print $2, $1 } else print $1 }' "$1" | sort -n
}

# "ordinal name" of each named export of an image, by ordinal.
exports_by_ordinal() {
  local dump base
  dump=$("$objdump" -p "$1")
  base=$(sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\)$/\1/p' <<<"$dump" | head -1)
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
    awk -v base="$base" '{ print $1 + base, $2 }' | sort -n
}

# check_list WHAT EXPECTED ACTUAL COUNT: the lists are equal and hold COUNT entries.
check_list() {
  local count decorated
  count=$(grep -c . <<<"$2" || true)
  [ "$count" -eq "$4" ] || complain "$1: the list holds $count entries, expected $4"
  if [ "$2" != "$3" ]; then
    complain "$1: the exports differ from the list (< list, > image):"
    diff <(echo "$2") <(echo "$3") || true
  fi
  decorated=$(awk '{ print $NF }' <<<"$3" | grep -E '@|^_' || true)
  [ -z "$decorated" ] || complain "$1: decorated export names:" "$decorated"
}

# check_ordinal_imports IMAGE "ORDINALS ": kvoucd32.dll is imported by ordinal only, these ordinals.
check_ordinal_imports() {
  local entries named ordinals
  entries=$("$objdump" -p "$1" |
            awk '/DLL Name: kvoucd32.dll/ { on = 1; next } on && /^[[:space:]]*$/ { on = 0 } on' |
            awk 'NF >= 2 && $1 ~ /^[0-9a-f]+$/')
  [ -n "$entries" ] || { complain "$(basename "$1"): imports nothing from kvoucd32.dll"; return; }
  named=$(awk '$3 != "<none>"' <<<"$entries")
  [ -z "$named" ] || complain "$(basename "$1"): kvoucd32.dll imported by name:" "$named"
  ordinals=$(import_ordinals <<<"$entries")
  [ "$ordinals" = "$2" ] || complain "$(basename "$1"): kvoucd32.dll ordinals '$ordinals', expected '$2'"
}

for file in "$dir"/{kvoucd32,nqfsfunc,kta_ca}.dll "$dir"/{kvocli,kvojavaw,kvoconw,kvocon}.exe "$package"; do
  [ -f "$file" ] || { echo "missing $file (run make build)"; exit 1; }
done

check_list kvoucd32.dll "$(def_list "$kvoucd32_def")" "$(exports_by_ordinal "$dir/kvoucd32.dll")" 30
natives=$(grep -ho 'JNICALL Java_[A-Za-z0-9_]*' "${headers[@]}" | sed 's/^JNICALL //' | sort)
check_list nqfsfunc.dll "$natives" "$(export_names "$objdump" "$dir/nqfsfunc.dll")" 43
actions=$(def_list "$kta_ca_def" | sort)
check_list kta_ca.dll "$actions" "$(export_names "$objdump" "$dir/kta_ca.dll")" 19

imports=$("$objdump" -p "$dir/kta_ca.dll" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' | tr 'A-Z' 'a-z' |
          sort -u)
system='kernel32\.dll|user32\.dll|advapi32\.dll|msi\.dll|shell32\.dll|ole32\.dll|msvcrt\.dll'
foreign=$(grep -vxE "$system" <<<"$imports" || true)
[ -z "$foreign" ] || complain "kta_ca.dll: imports other than system libraries:" "$foreign"

# The package's DLL custom actions (CustomAction rows after three header lines: Action, Type, Source,
# Target; type bits 0-5 equal to 1: a DLL stored in the Binary table), and its copy of the library.
carried=$(mktemp -d)
trap 'rm -rf "$carried"' EXIT
rows=$(msiinfo export "$package" CustomAction | tail -n +4 | tr -d '\r' |
       awk -F'\t' '$2 % 64 == 1 { print $1 "\t" $3 "\t" $4 }')
[ -n "$rows" ] || complain "$(basename "$package"): no DLL custom actions"
while IFS=$'\t' read -r action binary target; do
  [ -n "$action" ] || continue
  if [ ! -f "$carried/$binary" ]; then
    msiinfo extract "$package" "Binary.$binary" > "$carried/$binary"
    check_list "$(basename "$package") Binary $binary" "$actions" \
               "$(export_names "$objdump" "$carried/$binary")" 19
  fi
  grep -qxF "$target" <<<"$actions" || complain "$action: $target is not an action of kta_ca.dll"
done <<<"$rows"

for program in kvocli kvojavaw kvoconw kvocon; do
  check_ordinal_imports "$dir/$program.exe" "1 3 5 8 11 "
done
check_ordinal_imports "$dir/nqfsfunc.dll" "1 3 5 8 11 17 "
[ -z "$client" ] || check_ordinal_imports "$client" "$(seq -s ' ' 1 30) "

[ $fail -eq 0 ] && echo "${KVO_IMAGE_ARCH:-i686}: kvoucd32's 30 ordinals, nqfsfunc's 43 natives," \
  "kta_ca's 19 actions ($(grep -c . <<<"$rows") DLL custom actions of $(basename "$package")), plain names;" \
  "kvoucd32 imported by ordinal only (launchers, nqfsfunc${client:+, $(basename "$client")})"
exit $fail
