#!/usr/bin/env bash
# Fuzzes each libFuzzer target for its share of a fixed time: builds the targets with clang
# (address and undefined-behaviour sanitizers, leak checks) and runs each over a copy of its
# committed corpus (tests/fuzz/corpus/TARGET). Any finding (crash, leak, timeout, undefined
# behaviour, a wrong answer the target checks) fails the run and its reproducer's path is
# printed. At the end, one line per target: inputs run, inputs per second, corpus size.
# Usage: scripts/fuzz.sh [SECONDS] [--build-dir DIR]   (defaults: 60 s in all, build/fuzz)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# The targets (tests/fuzz/CMakeLists.txt builds qr_fuzz_NAME from each); a new one is one more
# name here, one qr_fuzz_target() there and its seeds in tests/fuzz/corpus/NAME.
targets=(dispatcher valuetext state window)
# Each target gets an equal share of the time, but at least this much.
min_seconds=10

seconds=60
build_dir=$root/build/fuzz
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build_dir=$(realpath -m "$2"); shift 2 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    [0-9]*) seconds=$1; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
share=$((seconds / ${#targets[@]}))
[ "$share" -ge "$min_seconds" ] || share=$min_seconds

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
cmake --build "$build_dir" -j2 --target "${targets[@]/#/qr_fuzz_}" || { echo "fuzz: build failed"; exit 1; }

# Fontconfig keeps its configuration for the process's life (as in the toolkit's tests).
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/toolkit/lsan.supp:print_suppressions=0

# A fresh copy of each corpus per run: what the fuzzer adds stays out of the source tree.
run_dir=$build_dir/run-$(date +%Y%m%d-%H%M%S)
failed=0
summary=()
for target in "${targets[@]}"; do
  fuzzer=$build_dir/tests/fuzz/qr_fuzz_$target
  dir=$run_dir/$target
  mkdir -p "$dir/corpus" "$dir/findings"
  cp "$root/tests/fuzz/corpus/$target"/* "$dir/corpus/"
  seeds=$(ls "$dir/corpus" | wc -l)
  echo
  echo "=== fuzzing $target for $share s in $dir"
  # Every dispatcher input starts and ends an effect, and with it the MIDI port's sender
  # thread; a fake stack per thread (use after return) halves that target's rate.
  options=$ASAN_OPTIONS
  [ "$target" = dispatcher ] && options=${options/detect_stack_use_after_return=1/detect_stack_use_after_return=0}
  (cd "$dir" && ASAN_OPTIONS=$options "$fuzzer" -max_total_time="$share" -timeout=30 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$dir/findings/" corpus) 2>&1 | tee "$dir/fuzz.log" |
    grep -v -E '^#[0-9]+.*(NEW|REDUCE|pulse)|NEW_FUNC'
  status=${PIPESTATUS[0]}
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/fuzz.log")
  corpus=$(ls "$dir/corpus" | wc -l)
  findings=$(find "$dir/findings" -type f | sort)
  if [ "$status" -ne 0 ] || [ -n "$findings" ]; then
    failed=1
    summary+=("$(printf '%-11s FAILED (exit %s); the full log is %s' "$target" "$status" "$dir/fuzz.log")")
    for f in $findings; do
      summary+=("            reproducer: $f (rerun with: $fuzzer $f)")
    done
  else
    summary+=("$(printf '%-11s %9s inputs in %3s s, %6s inputs/s, corpus %4s -> %4s inputs' \
      "$target" "${runs:-?}" "$share" "${rate:-?}" "$seeds" "$corpus")")
  fi
done

echo
echo "=== fuzz summary"
printf '%s\n' "${summary[@]}"
if [ "$failed" -ne 0 ]; then
  echo "fuzz: FAILED"
  exit 1
fi
echo "fuzz: no findings in ${#targets[@]} targets"
