#!/bin/sh
# The main job: builds KVILMSI64.dll, the simulator and the demo package,
# installs the package silently under wine msiexec with a verbose log on a
# machine profile, prints a short report, and removes the product again.
# Usage (as root on Debian 12): scripts/build.sh [PROFILE]
#   PROFILE: default, older-unsupported, rack-workstation, no-nics (package/profiles/)
#            or the path of a profile file.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
mkdir -p build-dll
log=build-dll/build.log
echo "[1/5] Building KVILMSI64.dll, the simulator and the package's programs (log: $log)"
if ! { cmake -S . -B build-dll -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF &&
       cmake --build build-dll -j2; } >"$log" 2>&1; then
  echo "FAILED: building (cmake); the end of $log:" >&2
  tail -n 40 "$log" >&2
  exit 1
fi
x86_64-w64-mingw32-objdump -p build-dll/bin/KVILMSI64.dll |
  awk '/file format/ {print "      " $0} /DLL Name:/ {dlls = dlls " " $3} /^\t\[ *[0-9]+\] caKVIL/ {n++}
       END {print "      imports:" dlls; print "      exports: " n " custom actions"}'
exec xvfb-run -a python3 package/demo.py build-dll "$@"
