#!/usr/bin/env bash
# Builds the benchmarks in Release (build/bench), runs them all and prints the table of
# ratios in Markdown on standard output; the benchmarks' own report goes to standard error.
#
#   scripts/bench.sh                  5 repetitions, medians
#   REPETITIONS=9 scripts/bench.sh    more repetitions
#   scripts/bench.sh --benchmark_filter=Gain   extra arguments go to both programs
#
# Timings need a quiet machine: the script prints the load average before and after. A run
# takes about four minutes with 7 repetitions, a minute and a half of it the automation runs,
# which play host automation in real time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/bench"
results="$build/results"
repetitions=${REPETITIONS:-5}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQR_BUILD_TESTS=OFF \
  -DQR_BUILD_BENCH=ON >/dev/null
# The build shares the machine politely; the measurements run at normal priority.
nice -n 10 cmake --build "$build" -j2 --target qr_bench qr_bench_jack >&2

rm -rf "$results"
mkdir -p "$results"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

run() {
  local program=$1
  shift
  local status=0
  "$build/bench/$program" --benchmark_repetitions="$repetitions" \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$results/$program.json" --benchmark_out_format=json "$@" >&2 || status=$?
  if [ "$status" -eq 77 ]; then
    echo "$program: skipped (its MIDI service is not available here)" >&2
    rm -f "$results/$program.json"
  elif [ "$status" -ne 0 ]; then
    echo "$program failed ($status)" >&2
    exit "$status"
  fi
}

run qr_bench "$@"
run qr_bench_jack "$@"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

python3 "$root/bench/ratios.py" "$results"/*.json
