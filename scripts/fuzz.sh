#!/usr/bin/env bash
# Fuzzes the effect's record for a fixed time: builds the libFuzzer target with clang (address
# and undefined-behaviour sanitizers, leak checks) and runs it over a copy of the committed
# corpus (tests/fuzz/corpus). Any finding (crash, leak, timeout, undefined behaviour, a wrong
# answer the target checks) fails the run and its reproducer's path is printed.
# Usage: scripts/fuzz.sh [SECONDS] [--build-dir DIR]      (defaults: 60 s, build/fuzz)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=60
build_dir=$root/build/fuzz
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build_dir=$(realpath -m "$2"); shift 2 ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    [0-9]*) seconds=$1; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

for tool in clang-14 clang++-14; do
  command -v "$tool" >/dev/null || { echo "fuzz: $tool is missing (apt-get install clang-14 libclang-rt-14-dev)"; exit 1; }
done

echo "=== build $build_dir"
mkdir -p "$build_dir"
if ! CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQR_FUZZ=ON -DQR_BUILD_BENCH=OFF >"$build_dir/fuzz-configure.log" 2>&1; then
  cat "$build_dir/fuzz-configure.log"
  echo "fuzz: configuring failed"
  exit 1
fi
cmake --build "$build_dir" -j2 --target qr_fuzz_record || { echo "fuzz: build failed"; exit 1; }
fuzzer=$build_dir/tests/fuzz/qr_fuzz_record

# A fresh copy of the corpus per run: what the fuzzer adds stays out of the source tree.
run_dir=$build_dir/run-$(date +%Y%m%d-%H%M%S)
mkdir -p "$run_dir/corpus" "$run_dir/findings"
cp "$root"/tests/fuzz/corpus/* "$run_dir/corpus/"

echo "=== fuzzing for $seconds s in $run_dir"
# Fontconfig keeps its configuration for the process's life (as in the toolkit's tests).
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/toolkit/lsan.supp:print_suppressions=0
(cd "$run_dir" && "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
  -print_final_stats=1 -artifact_prefix="$run_dir/findings/" corpus) 2>&1 | tee "$run_dir/fuzz.log" |
  grep -v -E '^#[0-9]+.*(NEW|REDUCE|pulse)|NEW_FUNC'
status=${PIPESTATUS[0]}

findings=$(find "$run_dir/findings" -type f | sort)
echo
if [ "$status" -ne 0 ] || [ -n "$findings" ]; then
  echo "fuzz: FAILED (exit $status); the full log is $run_dir/fuzz.log"
  for f in $findings; do
    echo "reproducer: $f"
    echo "  rerun with: $fuzzer $f"
  done
  exit 1
fi
echo "fuzz: no findings in $seconds s ($(ls "$run_dir/corpus" | wc -l) inputs in the corpus now)"
