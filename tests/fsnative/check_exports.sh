#!/usr/bin/env bash
# check_exports.sh OBJDUMP NQFSFUNC_DLL HEADER...
# The staged nqfsfunc.dll of the architecture KVO_IMAGE_ARCH names exports exactly the natives declared in the generated JNI headers, under
# their plain names (a decorated Name@N is a native a JVM cannot link), and imports kvoucd32.dll by
# ordinal only: 1, 3, 5, 8, 11 (the string classes) and 17.
set -euo pipefail
source "$(dirname "$0")/../common/image_format.sh"
objdump=$1 dll=$2
shift 2
fail=0

[ -f "$dll" ] || { echo "missing $dll (run make build first)"; exit 1; }
expect_image_format "$objdump" "$dll" || fail=1
expected=$(grep -ho 'JNICALL Java_[A-Za-z0-9_]*' "$@" | sed 's/^JNICALL //' | sort)
dump=$("$objdump" -p "$dll")
actual=$(export_names "$objdump" "$dll")
count=$(wc -l <<<"$expected")
if [ "$count" -ne 43 ]; then echo "the headers declare $count natives, expected 43"; fail=1; fi
if [ "$expected" != "$actual" ]; then
  echo "exports differ from the JNI headers:"; diff <(echo "$expected") <(echo "$actual") || true; fail=1
fi

# Every import block of kvoucd32.dll (the linker may write more than one).
entries=$(awk '/DLL Name: kvoucd32.dll/{on=1; next} on && /^[[:space:]]*$/{on=0} on' <<<"$dump" |
          awk 'NF >= 2 && $1 ~ /^[0-9a-f]+$/')
named=$(awk '$3 != "<none>"' <<<"$entries")
ordinals=$(import_ordinals <<<"$entries")
if [ -n "$named" ]; then echo "kvoucd32.dll imported by name:"; echo "$named"; fail=1; fi
if [ "$ordinals" != "1 3 5 8 11 17 " ]; then echo "kvoucd32.dll ordinals '$ordinals', expected '1 3 5 8 11 17 '"; fail=1; fi

[ $fail -eq 0 ] && echo "nqfsfunc.dll (${KVO_IMAGE_ARCH:-i686}): the $count natives by their plain names; kvoucd32.dll by ordinal only: $ordinals"
exit $fail
