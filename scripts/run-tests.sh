#!/bin/sh
# Builds everything and runs every test under Wine inside a virtual X display.
# Usage (as root on Debian 12): scripts/run-tests.sh [ctest arguments...]
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=ON
cmake --build build -j2
export WINEPREFIX="$PWD/build/prefix" WINEDEBUG=-all LC_ALL=C.UTF-8
# One wineserver for the whole run, started inside the X session so message
# boxes get a display.
xvfb-run -a sh -c '
  wineserver -k 2>/dev/null || true
  wineserver -w
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1
  cd build && ctest --output-on-failure "$@"
  status=$?
  wineserver -k 2>/dev/null || true
  exit $status
' run-tests "$@"
