#!/usr/bin/env bash
# check_signing.sh IMAGE_DIR PACKAGE
# Signs copies of the staged images and of the package as make release does (tools/sign.sh) with a
# throw-away code-signing certificate made here: osslsigncode verify accepts each against that
# certificate alone, and rejects each once a byte of its signed content has changed.
set -euo pipefail
source "$(dirname "$0")/../common/image_format.sh"
dir=$1 package=$2
sign=$(dirname "$0")/../../tools/sign.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throw-away test signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/log" 2>&1; }
fail=0
while read -r name _; do
  files+=("$dir/$name")
done < <(deliverable_images)
for f in "${files[@]}" "$package"; do
  copy=$work/$(basename "$f")
  bash "$sign" "$work/cert.pem" "$work/key.pem" "Throw-away test" "$f" "$copy" || { fail=1; continue; }
  verify "$copy" || { echo "$copy: signature not accepted:"; cat "$work/log"; fail=1; }
  # One letter of the DOS stub's text (in the package: of an image it carries) changed.
  offset=$(LC_ALL=C grep -obUa 'This program cannot be run in DOS mode' "$copy" | head -1 | cut -d: -f1)
  printf 'X' | dd of="$copy" bs=1 seek=$((offset + 5)) conv=notrunc status=none
  ! verify "$copy" || { echo "$(basename "$f"): signature accepted after a changed byte"; fail=1; }
done

[ $fail -eq 0 ] && echo "$((${#files[@]} + 1)) files signed with a throw-away certificate: accepted," \
  "then rejected once changed"
exit $fail
