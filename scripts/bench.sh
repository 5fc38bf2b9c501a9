#!/bin/sh
# The benchmark: what each custom action adds to an installation (see
# bench/run.py). Builds the DLL, the simulator, the floor DLL, the recorder and
# the in-process runner
# into build-bench/, creates a Wine prefix of its own there, installs gnuplot
# for the chart, and writes build-bench/bench/results.txt and ratios.png.
# Also writes build-bench/bench/report.txt: the report's time and memory on a
# large log (bench/report_bench.py). Not part of the tests. Usage (as root on
# Debian 12):
#   scripts/bench.sh [--rounds N] [--calls N] [--only caKVILSystemCheck,...]
set -e
cd "$(dirname "$0")/.."
# gnuplot-nox draws the chart.
scripts/install-deps.sh gnuplot-nox
build=build-bench
log="$build.log"
: >"$log"
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
         -DBUILD_TESTING=OFF -DKVIL_BUILD_BENCH=ON &&
       cmake --build "$build" -j2 --target KVILMSI64 KVIL64 PNPDRVR32 kvilbench_floor kvilbench_recorder kvilbench_inproc
     } >"$log" 2>&1; then
  echo "bench: the build failed; the end of $log:" >&2
  tail -n 40 "$log" >&2
  exit 1
fi
prefix="$PWD/$build/prefix"
[ -f "$prefix/.kvil-ready" ] || cmake/make-prefix.sh "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all LC_ALL=C.UTF-8
# One wineserver for the whole run (a fresh one, in case an earlier run left
# one behind); no display, so a message box returns at once.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p
status=0
python3 bench/run.py --bin "$build/bin" --prefix "$prefix" --out "$build/bench" \
  --def KVILMSI64.def --inputs bench/exports.txt "$@" || status=$?
wineserver -k 2>/dev/null || true
# The report's time and memory on a 125 MB log against a bare line loop
# (plain Python; runs alone too: python3 bench/report_bench.py).
python3 bench/report_bench.py --out "$build/bench" || status=$?
exit $status
