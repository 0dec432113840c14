#!/usr/bin/env bash
# Makes the programs the signature tests check, from one small program:
#   unsigned.exe  a copy as the compiler wrote it
#   signed.exe    signed (SHA-256) by a code-signing certificate whose
#                 common name is SIGNER, issued by a throw-away certificate
#                 authority made here; both certificates are in the signature
#   tampered.exe  signed.exe with one byte of its code (.text) changed
#   spoofing.exe  signed by the same authority for a common name that is
#                 SIGNER behind a right-to-left override and before a line feed
# Usage: make_signed_samples.sh PROGRAM OUT_FOLDER SIGNER OBJDUMP
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 PROGRAM OUT_FOLDER SIGNER OBJDUMP" >&2; exit 2; }
program=$1 out=$2 signer=$3 objdump=$4
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing (scripts/setup-host.sh installs it)" >&2; exit 1; }
done

mkdir -p "$out"
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The authority and the signers, from a configuration of their own (not the
# host's openssl.cnf). Ten years, so an old build tree keeps working.
cat >"$work/openssl.cnf" <<'CONF'
[req]
distinguished_name = dn
[dn]
[authority]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CONF
openssl req -config "$work/openssl.cnf" -x509 -extensions authority -newkey rsa:2048 -nodes \
    -sha256 -days 3650 -utf8 -subj "/O=Quillmark tests/CN=Quillmark Test Authority" \
    -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null

# make_signer NAME COMMON_NAME: NAME.key and NAME.pem, issued by the authority,
# and NAME-chain.pem with the authority's certificate behind.
make_signer() {
    openssl req -config "$work/openssl.cnf" -new -newkey rsa:2048 -nodes -sha256 -utf8 \
        -subj "/O=Quillmark tests/CN=$2" -keyout "$work/$1.key" -out "$work/$1.csr" 2>/dev/null
    openssl x509 -req -in "$work/$1.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
        -days 3650 -sha256 -extfile "$work/openssl.cnf" -extensions signer -out "$work/$1.pem" 2>/dev/null
    cat "$work/$1.pem" "$work/ca.pem" >"$work/$1-chain.pem"
}
# sign SIGNER IN OUT
sign() {
    osslsigncode sign -certs "$work/$1-chain.pem" -key "$work/$1.key" -h sha256 \
        -n "Quillmark signature sample" -in "$2" -out "$3" >/dev/null
}
make_signer signer "$signer"
make_signer spoofer "$(printf '\342\200\256')$signer"$'\n'

cp "$program" "$work/unsigned.exe"
sign signer "$work/unsigned.exe" "$work/signed.exe"
sign spoofer "$work/unsigned.exe" "$work/spoofing.exe"

# One byte in the middle of the code section, inverted.
read -r text_size text_offset < <("$objdump" -h "$work/signed.exe" |
    awk '$2 == ".text" { print $3, $6; exit }') || true
[ -n "${text_offset:-}" ] || { echo "$0: no .text section in $program" >&2; exit 1; }
at=$(( 0x$text_offset + 0x$text_size / 2 ))
cp "$work/signed.exe" "$work/tampered.exe"
byte=$(od -An -tu1 -j "$at" -N1 "$work/tampered.exe" | tr -d ' ')
printf "\\$(printf '%03o' $(( byte ^ 0xff )))" |
    dd of="$work/tampered.exe" bs=1 seek="$at" conv=notrunc status=none
cmp -s "$work/signed.exe" "$work/tampered.exe" && { echo "$0: tampering changed nothing" >&2; exit 1; }

mv -f "$work"/{unsigned,signed,tampered,spoofing}.exe "$out/"
