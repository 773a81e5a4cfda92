#!/usr/bin/env bash
# check_exports.sh OBJDUMP KTA_CA_DLL DEF_FILE
# The staged kta_ca.dll of the architecture KVO_IMAGE_ARCH names exports exactly the actions of the .def file, by their plain names (the
# Windows Installer looks an action up by that name: a decorated _Name@4 is an action that fails on
# Windows, while Wine skips it silently), and imports only libraries of the system.
set -euo pipefail
source "$(dirname "$0")/../common/image_format.sh"
objdump32=$1 dll=$2 def=$3
fail=0

[ -f "$dll" ] || { echo "missing $dll (run make build first)"; exit 1; }
dump=$("$objdump32" -p "$dll")
expect_image_format "$objdump32" "$dll" || fail=1
expected=$(awk 'f && NF { print $1 } /^EXPORTS/ { f = 1 }' "$def" | sort)
actual=$(export_names "$objdump32" "$dll")
if [ -z "$expected" ]; then echo "$def lists no exports"; fail=1; fi
if [ "$expected" != "$actual" ]; then
  echo "exports differ from $def:"; diff <(echo "$expected") <(echo "$actual") || true; fail=1
fi
decorated=$(grep -E '@|^_' <<<"$actual" || true)
if [ -n "$decorated" ]; then echo "decorated export names:"; echo "$decorated"; fail=1; fi

imports=$(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
foreign=$(grep -vxE 'kernel32\.dll|user32\.dll|advapi32\.dll|msi\.dll|shell32\.dll|ole32\.dll|msvcrt\.dll' <<<"$imports" || true)
if [ -n "$foreign" ]; then echo "imports other than system libraries:"; echo "$foreign"; fail=1; fi

[ $fail -eq 0 ] && echo "kta_ca.dll (${KVO_IMAGE_ARCH:-i686}): $(wc -l <<<"$expected") actions exported by plain name; imports $(echo $imports)"
exit $fail
