#!/bin/sh
# The main job: builds KVILMSI64.dll (and the simulator) and shows what it is:
# its format, imports and export table.
# Usage (as root on Debian 12): scripts/build.sh
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-dll -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF
cmake --build build-dll -j2
x86_64-w64-mingw32-objdump -p build-dll/bin/KVILMSI64.dll |
  sed -n -e '/file format/p' -e '/^Magic/p' -e '/DLL Name:/p' -e '/\[Ordinal\/Name Pointer\] Table/,/^$/p'
