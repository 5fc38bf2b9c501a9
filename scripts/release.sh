#!/bin/sh
# Makes what a packager takes: a clean build of KVILMSI64.dll, then
# dist/KVILMSI64-<version>/ with the DLL, the packager's kit, the report tool
# (kvilreport.pyz, one file, and kvilreport/, the package pip installs, with
# its README), a short README and SHA256SUMS.
# Usage (as root on Debian 12):
#   scripts/release.sh [--sign CERTIFICATE.pfx] [--timestamp URL] [--build-number N]
# --sign signs the DLL (Authenticode, SHA-256) and verifies the signature
# against the certificate's own chain and the system's trusted roots; the
# password comes from the environment variable KVIL_SIGN_PASSWORD (unset: the
# certificate has none). --timestamp adds an RFC 3161 time stamp from that
# server. --build-number sets the fourth field of the version (default 0).
# Everything is made in a temporary folder and moved into dist/ only when it
# is complete, so a failure leaves no release folder behind.
set -e
# A certificate's path is taken from where the command was given.
here=$(pwd)
cd "$(dirname "$0")/.."
usage="usage: scripts/release.sh [--sign CERTIFICATE.pfx] [--timestamp URL] [--build-number N]"
certificate="" timestamp="" build_number=0
while [ $# -gt 0 ]; do
  case "$1" in
    --sign) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; certificate=$2; shift 2 ;;
    --timestamp) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; timestamp=$2; shift 2 ;;
    --build-number) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; build_number=$2; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
fail() {
  echo "release: $1" >&2
  if [ -n "${2:-}" ] && [ -s "$2" ]; then
    echo "release: the end of $2:" >&2
    tail -n 40 "$2" >&2
  fi
  exit 1
}
case "$build_number" in
  ''|*[!0-9]*) fail "--build-number takes a whole number from 0 to 65535, not '$build_number'" ;;
esac
# Leading zeros dropped (the build writes the number so too); more than five
# digits is out of range whatever they are.
build_number=$(echo "$build_number" | sed 's/^0*\([0-9]\)/\1/')
if [ ${#build_number} -gt 5 ] || [ "$build_number" -gt 65535 ]; then
  fail "--build-number takes a whole number from 0 to 65535, not '$build_number'"
fi
if [ -n "$timestamp" ] && [ -z "$certificate" ]; then
  fail "--timestamp needs --sign: only a signature gets a time stamp"
fi
# A missing certificate or a wrong password is found before the build.
if [ -n "$certificate" ]; then
  case "$certificate" in /*) ;; *) certificate="$here/$certificate" ;; esac
  scripts/sign-dll.sh --check "$certificate" || fail "no release was made"
fi

scripts/install-deps.sh
work=$(mktemp -d /tmp/kvil-release.XXXXXX)
incoming=""
trap 'rm -rf "$work" ${incoming:+"$incoming"}' EXIT
trap 'exit 1' INT TERM HUP
log="$work/build.log"

echo "[1/4] A clean build of KVILMSI64.dll in a temporary folder"
if ! { cmake -S . -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
         -DBUILD_TESTING=OFF -DKVIL_BUILD_SIMULATOR=OFF -DKVIL_BUILD_NUMBER="$build_number" &&
       cmake --build "$work/build" -j2 --target KVILMSI64; } >"$log" 2>&1; then
  fail "the build failed" "$log"
fi
version=$(cat "$work/build/kvil-version.txt")
dll="$work/build/bin/KVILMSI64.dll"
name="KVILMSI64-$version"
stage="$work/$name"
mkdir "$stage"

echo "[2/4] Checking the DLL: size and imports"
size=$(stat -c %s "$dll")
[ "$size" -le 458752 ] || fail "KVILMSI64.dll is $size bytes, over its budget of 448 KB"
# Only DLLs every supported Windows has in System32 may be imported: the
# package ships no runtime (the universal C runtime is not on every 2012 R2).
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/ {print $3}')
for import in $imports; do
  case "$(echo "$import" | tr 'A-Z' 'a-z')" in
    kernel32.dll|advapi32.dll|user32.dll|msi.dll|version.dll|shell32.dll|msvcrt.dll|\
    ole32.dll|oleaut32.dll|shlwapi.dll|gdi32.dll|setupapi.dll|ws2_32.dll) ;;
    *) fail "KVILMSI64.dll imports $import, which is not a Windows system DLL" ;;
  esac
done
echo "      $size bytes; imports:" $imports

if [ -n "$certificate" ]; then
  echo "[3/4] Signing KVILMSI64.dll with $certificate${timestamp:+ and a time stamp from $timestamp}"
  scripts/sign-dll.sh "$dll" "$stage/KVILMSI64.dll" "$certificate" "$timestamp" ||
    fail "signing failed; no release was made"
  stamp=", without a time stamp"
  [ -z "$timestamp" ] || stamp=", time-stamped by $timestamp"
  signature="Signed: KVILMSI64.dll carries an Authenticode signature (SHA-256) by the
certificate $(basename "$certificate")$stamp."
else
  echo "[3/4] Not signing: no certificate given (--sign CERTIFICATE.pfx)"
  cp "$dll" "$stage/KVILMSI64.dll"
  signature="UNSIGNED: KVILMSI64.dll carries no signature. Sign it before shipping it to
machines whose application control admits only signed DLLs."
fi

echo "[4/4] Putting the release together"
cp package/kvilmsi64-actions.wxi "$stage/"
# The report tool: one file made with zipapp, and the package it is made of.
python3 report/make_pyz.py "$stage/kvilreport.pyz" >"$work/report-check.log" 2>&1 ||
  fail "cannot make kvilreport.pyz" "$work/report-check.log"
mkdir "$stage/kvilreport"
cp report/README.md report/pyproject.toml "$stage/kvilreport/"
cp -r report/kvilreport "$stage/kvilreport/"
find "$stage" -name __pycache__ -prune -exec rm -rf {} +
# The shipped report tool must start alone (no PYTHONPATH, no user packages,
# no bytecode left behind).
(cd "$work" && python3 -B -E -s "$stage/kvilreport.pyz" --help >"$work/report-check.log" 2>&1) ||
  fail "kvilreport.pyz does not start on its own" "$work/report-check.log"
commit=$(git rev-parse --short=12 HEAD 2>/dev/null || echo unknown)
if [ -n "$(git status --porcelain 2>/dev/null)" ]; then
  commit="$commit, with changes not yet committed"
fi
# The unsigned DLL's checksum lets anyone rebuild the commit and compare.
unsigned_sum=$(sha256sum <"$dll" | cut -c1-64)
python3 - "$stage/README.txt" "$version" "$signature" "$commit" "$unsigned_sum" <<'PYTHON'
import pathlib
import sys
out, version, signature, commit, unsigned_sum = sys.argv[1:]
text = pathlib.Path("package/release-readme.txt").read_text(encoding="utf-8")
text = text.replace("@VERSION@", version).replace("@SIGNATURE@", signature)
text = text.replace("@COMMIT@", commit).replace("@UNSIGNED_SHA256@", unsigned_sum)
pathlib.Path(out).write_text(text, encoding="utf-8")
PYTHON
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
   while IFS= read -r file; do sha256sum "$file"; done >SHA256SUMS)

mkdir -p dist
incoming="dist/.$name.incoming"
rm -rf "$incoming"
mv "$stage" "$incoming"
rm -rf "dist/$name"
mv "$incoming" "dist/$name"
incoming=""
echo "Release: $(pwd)/dist/$name"
(cd "dist/$name" && ls -l | sed '1d; s/^/      /')
echo "$signature"
