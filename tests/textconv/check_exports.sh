#!/usr/bin/env bash
# check_exports.sh OBJDUMP KVOUCD32_DLL DEF_FILE CLIENT_OBJDUMP CLIENT_EXE
# The staged kvoucd32.dll of the architecture KVO_IMAGE_ARCH names exports exactly the names of the
# .def file under its ordinals, and a client linked with the ordinal import library imports
# kvoucd32.dll by ordinal only.
set -euo pipefail
source "$(dirname "$0")/../common/image_format.sh"
objdump32=$1 dll=$2 def=$3 client_objdump=$4 client=$5
fail=0

[ -f "$dll" ] || { echo "missing $dll (run make build first)"; exit 1; }
expect_image_format "$objdump32" "$dll" || fail=1
expected=$(awk '$1 ~ /^NF/ && $2 ~ /^@/ { sub("@", "", $2); print $2, $1 }' "$def" | sort -n)
dump=$("$objdump32" -p "$dll")
base=$(sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\)$/\1/p' <<<"$dump" | head -1)
# "[Ordinal/Name Pointer] Table" lines: "[ index] Name", the index counted from the ordinal base.
actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
         sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
         awk -v base="$base" '{ print $1 + base, $2 }' | sort -n)
if [ "$(wc -l <<<"$expected")" -ne 30 ]; then echo "the .def lists $(wc -l <<<"$expected") exports"; fail=1; fi
if [ "$expected" != "$actual" ]; then
  echo "exports differ from $def:"; diff <(echo "$expected") <(echo "$actual") || true; fail=1
fi

imports=$("$client_objdump" -p "$client" | sed -n '/DLL Name: kvoucd32.dll/,/^$/p')
if [ -z "$imports" ]; then echo "$client imports nothing from kvoucd32.dll"; fail=1; fi
named=$(tail -n +3 <<<"$imports" | awk 'NF >= 3 && $3 != "<none>"')
if [ -n "$named" ]; then echo "imports by name:"; echo "$named"; fail=1; fi
count=$(tail -n +3 <<<"$imports" | awk 'NF >= 2' | wc -l)
if [ "$count" -ne 30 ]; then echo "expected 30 ordinal imports, found $count"; fail=1; fi

[ $fail -eq 0 ] && echo "kvoucd32.dll (${KVO_IMAGE_ARCH:-i686}): 30 exports with their ordinals; client imports by ordinal only"
exit $fail
