#!/usr/bin/env bash
# sign.sh CERT KEY DESCRIPTION IN OUT
# Writes OUT: IN (a Windows image or an installation package) with an Authenticode signature (SHA-256)
# made with the certificate CERT (with its chain) and its private key KEY, both PEM or DER files. The
# signature names DESCRIPTION (what the system shows as the signed program's name) and, when
# TIMESTAMP_URL is set, carries a time stamp of that RFC 3161 server. OSSLSIGNCODE names the tool
# (default: osslsigncode from the PATH).
set -euo pipefail
cert=$1 key=$2 description=$3 in=$4 out=$5
options=(-certs "$cert" -key "$key" -h sha256 -n "$description")
[ -z "${TIMESTAMP_URL:-}" ] || options+=(-ts "$TIMESTAMP_URL")

mkdir -p "$(dirname "$out")"
tmp="$out.signing"
rm -f "$tmp"
if ! log=$("${OSSLSIGNCODE:-osslsigncode}" sign "${options[@]}" -in "$in" -out "$tmp" 2>&1); then
  echo "$log" >&2
  echo "sign.sh: could not sign $in" >&2
  rm -f "$tmp"
  exit 1
fi
mv "$tmp" "$out"
