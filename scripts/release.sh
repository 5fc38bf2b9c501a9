#!/bin/sh
# Makes what a packager takes: a clean build of KVILMSI64.dll, then
# dist/KVILMSI64-<version>/ with the DLL, the packager's kit (kit/: the WiX v3
# and v4 includes, kvilsupport.dll, the example package), the simulated
# support files for testing (testing/), the report tool (kvilreport.pyz, one
# file, and kvilreport/, the package pip installs, with its README), README.md
# (docs/packaging.md with this release's facts at its top) and SHA256SUMS.
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
# The build's own rule, checked before anything is built.
build_number=$(cmake -DKVIL_BUILD_NUMBER="$build_number" -P cmake/build-number.cmake 2>/dev/null) ||
  fail "--build-number takes a whole number from 0 to 65535, not '$build_number'"
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

echo "[1/4] A clean build of KVILMSI64.dll and kvilsupport.dll in a temporary folder"
# The simulated support library goes into testing/ for the example package.
if ! { cmake -S . -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
         -DBUILD_TESTING=OFF -DKVIL_BUILD_NUMBER="$build_number" &&
       cmake --build "$work/build" -j2 --target KVILMSI64 kvilsupport KVIL64 PNPDRVR32; } >"$log" 2>&1; then
  fail "the build failed" "$log"
fi
version=$(cat "$work/build/kvil-version.txt")
dll="$work/build/bin/KVILMSI64.dll"
support_dll="$work/build/bin/kvilsupport.dll"
name="KVILMSI64-$version"
stage="$work/$name"
mkdir "$stage"

echo "[2/4] Checking the DLLs: size and imports"
allowed=$(grep -v '^#' scripts/system-dlls.txt)
for shipped in "$dll" "$support_dll"; do
  base=$(basename "$shipped")
  size=$(stat -c %s "$shipped")
  [ "$size" -le 458752 ] || fail "$base is $size bytes, over its budget of 448 KB"
  imports=$(x86_64-w64-mingw32-objdump -p "$shipped" | awk '/DLL Name:/ {print $3}')
  for import in $imports; do
    echo "$allowed" | grep -qixF "$import" ||
      fail "$base imports $import, which is not a Windows system DLL (scripts/system-dlls.txt)"
  done
  echo "      $base: $size bytes; imports:" $imports
done
scripts/stage-release.sh "$work/build/bin" "$stage" >"$work/stage.log" 2>&1 ||
  fail "putting the kit together failed" "$work/stage.log"

if [ -n "$certificate" ]; then
  echo "[3/4] Signing KVILMSI64.dll and kvilsupport.dll with $certificate${timestamp:+ and a time stamp from $timestamp}"
  scripts/sign-dll.sh "$dll" "$stage/KVILMSI64.dll" "$certificate" "$timestamp" ||
    fail "signing failed; no release was made"
  scripts/sign-dll.sh "$support_dll" "$stage/kit/kvilsupport.dll" "$certificate" "$timestamp" ||
    fail "signing kvilsupport.dll failed; no release was made"
  stamp=", without a time stamp"
  [ -z "$timestamp" ] || stamp=", time-stamped by $timestamp"
  signature="Signed: KVILMSI64.dll and kit/kvilsupport.dll carry an Authenticode signature
(SHA-256) by the certificate $(basename "$certificate")$stamp."
else
  echo "[3/4] Not signing: no certificate given (--sign CERTIFICATE.pfx)"
  signature="UNSIGNED: KVILMSI64.dll and kit/kvilsupport.dll carry no signature. Sign them
before shipping them to machines whose application control admits only signed DLLs."
fi

echo "[4/4] Putting the release together"
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
# The packager's document is the release's README, this release's facts on top.
python3 - "$stage/README.md" "$version" "$signature" "$commit" "$unsigned_sum" <<'PYTHON'
import pathlib
import sys
out, version, signature, commit, unsigned_sum = sys.argv[1:]
facts = (f"**This release: {version}.** {signature.replace(chr(10), ' ')} Built from commit {commit}. "
         f"The unsigned `KVILMSI64.dll` has the SHA-256 `{unsigned_sum}`, which a build of the same "
         "commit and build number gives again ([Verifying the release](#verifying-the-release)).\n\n")
title, text = pathlib.Path("docs/packaging.md").read_text(encoding="utf-8").split("\n\n", 1)
pathlib.Path(out).write_text(f"{title}\n\n{facts}{text}", encoding="utf-8")
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
