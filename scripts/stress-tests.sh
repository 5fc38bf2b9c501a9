#!/bin/sh
# Runs the tests the way a busy 2-core machine meets them: one core kept busy
# by another process the whole time, the end-to-end set three times in a row,
# then the whole test command twice in a row. Stops at the first failing run
# and shows the end of its log. Every run's log and the figures are kept in
# build-stress/. Usage (as root on Debian 12):
#   scripts/stress-tests.sh [--e2e-rounds N] [--full-rounds N]
set -e
cd "$(dirname "$0")/.."
e2e_rounds=3
full_rounds=2
while [ $# -gt 0 ]; do
  case "$1" in
    --e2e-rounds) e2e_rounds="$2"; shift 2 ;;
    --full-rounds) full_rounds="$2"; shift 2 ;;
    *) echo "stress-tests: unknown argument $1" >&2; exit 2 ;;
  esac
done
out=build-stress
mkdir -p "$out"
figures="$out/figures.txt"
: >"$figures"

# The other process: a shell loop that keeps one core busy until we stop.
sh -c 'while :; do :; done' &
busy=$!
# A signal stops the runs too (a trapped one alone would let them go on), and
# every way out stops the busy loop.
trap 'kill $busy 2>/dev/null || true' EXIT
trap 'exit 1' INT TERM HUP
echo "stress-tests: one core kept busy by process $busy; logs in $out/"

# One run of the test command; its figures go to the figures file.
run() {
  name="$1"; shift
  log="$out/$name.log"
  start=$(date +%s)
  if scripts/run-tests.sh "$@" >"$log" 2>&1; then status=passed; else status=FAILED; fi
  seconds=$(( $(date +%s) - start ))
  summary=$(grep -E 'tests passed|tests failed' "$log" | tail -n 1)
  echo "$name: $status in ${seconds} s: $summary" | tee -a "$figures"
  if [ "$status" = FAILED ]; then
    echo "stress-tests: $name failed; the end of $log:" >&2
    tail -n 60 "$log" >&2
    exit 1
  fi
  # A program the simulator had to start twice is named in the installers'
  # logs, which each end-to-end test makes afresh; count this run's.
  retries=$(grep -rhs --include='*.log' 'started a second time' build/e2e | wc -l)
  commands=$(grep -rhs --include='*.log' 'KVIL64: running command' build/e2e | wc -l)
  echo "$name: $retries of $commands simulator commands in its end-to-end logs needed a second start" |
    tee -a "$figures"
}

i=1
while [ $i -le "$e2e_rounds" ]; do
  run "e2e-$i" -R e2e
  i=$((i + 1))
done
i=1
while [ $i -le "$full_rounds" ]; do
  run "full-$i"
  i=$((i + 1))
done
echo "stress-tests: every run passed; figures in $figures"
