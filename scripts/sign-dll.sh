#!/bin/sh
# Signs a DLL (Authenticode, SHA-256) with a PKCS#12 certificate and verifies
# the signature against the certificate's own chain, completed by the system's
# trusted roots. The password comes from the environment variable
# KVIL_SIGN_PASSWORD, never from the command line; unset or empty, the
# certificate is opened without one. OUT is written only when the signature
# verifies. scripts/release.sh signs the release with it.
# Usage: scripts/sign-dll.sh IN.dll OUT.dll CERTIFICATE.pfx [TIMESTAMP-URL]
#        scripts/sign-dll.sh --check CERTIFICATE.pfx
#   TIMESTAMP-URL: an RFC 3161 time-stamp server; without it the signature has
#   no time stamp (and stops being valid when the certificate expires).
#   --check only opens the certificate, so a release finds a wrong password
#   before its build.
set -e
usage="usage: scripts/sign-dll.sh IN.dll OUT.dll CERTIFICATE.pfx [TIMESTAMP-URL] | --check CERTIFICATE.pfx"
if [ "${1:-}" = --check ]; then
  [ $# -eq 2 ] || { echo "$usage" >&2; exit 2; }
  in="" out="" certificate=$2 timestamp=""
elif [ $# -ge 3 ] && [ $# -le 4 ]; then
  in=$1 out=$2 certificate=$3 timestamp=${4:-}
else
  echo "$usage" >&2
  exit 2
fi
fail() {
  echo "sign: $1" >&2
  if [ -n "${2:-}" ] && [ -s "$2" ]; then
    echo "sign: the end of the tool's output:" >&2
    tail -n 20 "$2" >&2
  fi
  exit 1
}
[ -z "$in" ] || [ -f "$in" ] || fail "the DLL $in does not exist"
[ -f "$certificate" ] || fail "the certificate $certificate does not exist"
[ -r "$certificate" ] || fail "the certificate $certificate cannot be read"

work=$(mktemp -d /tmp/kvil-sign.XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
log="$work/tools.log"
# The password reaches the tools through a file only this user can read, not
# through their command lines, which every user of the machine can see.
pass_file="$work/password"
if [ -n "${KVIL_SIGN_PASSWORD:-}" ]; then
  (umask 077 && printf '%s' "$KVIL_SIGN_PASSWORD" >"$pass_file")
  openssl_pass="file:$pass_file"
  signer_pass="-readpass $pass_file"
else
  openssl_pass="pass:"
  signer_pass=""
fi

# Opening the certificate first gives a wrong password its own message. Older
# PKCS#12 files use ciphers OpenSSL 3 keeps in its legacy provider.
chain="$work/chain.pem"
if ! openssl pkcs12 -in "$certificate" -nokeys -passin "$openssl_pass" -out "$chain" >"$log" 2>&1 &&
   ! openssl pkcs12 -legacy -in "$certificate" -nokeys -passin "$openssl_pass" -out "$chain" >>"$log" 2>&1; then
  if [ -n "${KVIL_SIGN_PASSWORD:-}" ]; then
    fail "cannot open the certificate $certificate: wrong password in KVIL_SIGN_PASSWORD, or not a PKCS#12 file" "$log"
  fi
  fail "cannot open the certificate $certificate without a password (set KVIL_SIGN_PASSWORD), or not a PKCS#12 file" "$log"
fi
grep -q 'BEGIN CERTIFICATE' "$chain" || fail "the certificate file $certificate holds no certificate" "$log"
[ -n "$in" ] || exit 0
# A certificate from a certification authority usually comes without the
# authority's root, which the system's trusted roots hold (SSL_CERT_FILE, as
# for OpenSSL, names another file of them); a self-made one brings its own.
roots=${SSL_CERT_FILE:-/etc/ssl/certs/ca-certificates.crt}
if [ -r "$roots" ]; then
  cat "$roots" >>"$chain"
fi

signed="$work/signed.dll"
# shellcheck disable=SC2086  # $signer_pass is empty or two words
if ! osslsigncode sign -pkcs12 "$certificate" $signer_pass -h sha256 \
       -n "Orvessa installer custom actions (64-bit)" ${timestamp:+-ts "$timestamp"} \
       -in "$in" -out "$signed" >"$log" 2>&1; then
  fail "signing $in with $certificate${timestamp:+ and a time stamp from $timestamp} failed" "$log"
fi
if ! osslsigncode verify -in "$signed" -CAfile "$chain" >"$log" 2>&1; then
  fail "the signature of $in does not verify against the chain of $certificate (with the system's trusted roots)" "$log"
fi
grep -E '^(Signature verification|Timestamp)' "$log" | sed 's/^/sign: /' || true
mv "$signed" "$out"
