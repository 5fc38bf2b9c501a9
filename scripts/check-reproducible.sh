#!/bin/sh
# Checks that the build is reproducible: the committed sources (HEAD) are
# unpacked into two temporary folders of different names and lengths, each is
# built from scratch, and the DLLs of the two builds are compared byte for
# byte (cmp). Changes not yet committed are not part of the check.
# Usage (as root on Debian 12): scripts/check-reproducible.sh
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
work=$(mktemp -d /tmp/kvil-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
commit=$(git rev-parse --short=12 HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "Note: the working tree has changes that are not committed; the check builds $commit as committed."
dlls="KVILMSI64.dll KVIL64.dll PNPDRVR32.DLL"
for folder in one/src second-build/sources-of-the-release; do
  mkdir -p "$work/$folder"
  git archive HEAD | tar -x -C "$work/$folder"
  log="$work/$(dirname "$folder").log"
  echo "Building $commit in $work/$folder"
  if ! { cmake -S "$work/$folder" -B "$work/$folder/out" -G Ninja \
           -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF &&
         cmake --build "$work/$folder/out" -j2 --target KVILMSI64 KVIL64 PNPDRVR32; } >"$log" 2>&1; then
    echo "check-reproducible: the build in $work/$folder failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
done
status=0
for dll in $dlls; do
  if cmp "$work/one/src/out/bin/$dll" "$work/second-build/sources-of-the-release/out/bin/$dll"; then
    echo "same bytes: $dll ($(sha256sum <"$work/one/src/out/bin/$dll" | cut -c1-64))"
  else
    echo "DIFFERENT: $dll differs between the two builds" >&2
    status=1
  fi
done
exit $status
