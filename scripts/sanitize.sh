#!/usr/bin/env bash
# The Linux tests under the sanitizers:
#   1. every ctest suite once under AddressSanitizer + UndefinedBehaviorSanitizer (any
#      undefined behaviour fails its test; LeakSanitizer checks each test program at exit,
#      including a thousand window open/close cycles);
#   2. the threaded tests under ThreadSanitizer (effect threads, host updates to the window,
#      the JACK MIDI service).
# Usage: scripts/sanitize.sh [--asan-dir DIR] [--tsan-dir DIR] [--only asan|tsan]
# Build directories default to build/asan and build/tsan. The last line counts the steps
# that passed and failed; the exit code is non-zero when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

asan_dir=$root/build/asan
tsan_dir=$root/build/tsan
only=
while [ $# -gt 0 ]; do
  case $1 in
    --asan-dir) asan_dir=$(realpath -m "$2"); shift 2 ;;
    --tsan-dir) tsan_dir=$(realpath -m "$2"); shift 2 ;;
    --only) only=$2; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

source "$root/scripts/steps.sh"

configure() {
  local dir=$1
  shift
  mkdir -p "$dir" &&
    cmake -S "$root" -B "$dir" -DQR_BUILD_BENCH=OFF "$@" >"$dir/sanitize-configure.log" 2>&1 ||
    { cat "$dir/sanitize-configure.log"; return 1; }
}

# Reported as errors, and fatal: a sanitizer finding is a failed test.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
asan_options=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1

# GCC leaves float-to-integer overflow out of "undefined"; hosts send NaN and infinities.
ub_flags="-fsanitize=float-cast-overflow -fno-sanitize-recover=all"
build_asan() {
  configure "$asan_dir" -DCMAKE_BUILD_TYPE=Debug -DQR_SANITIZE=address,undefined \
      "-DCMAKE_C_FLAGS=$ub_flags" "-DCMAKE_CXX_FLAGS=$ub_flags" &&
    cmake --build "$asan_dir" -j2
}

run_asan_tests() {
  ASAN_OPTIONS=$asan_options ctest --test-dir "$asan_dir" --output-on-failure --timeout 600
}

build_tsan() {
  configure "$tsan_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQR_SANITIZE=thread &&
    cmake --build "$tsan_dir" -j2 --target qr_unit_tests qr_editor_tests qr_platform_midi_tests
}

tsan_run() {
  local suppressions=$1
  shift
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1${suppressions:+:suppressions=$suppressions}" "$@"
}

# Repeated: each pass interleaves the threads differently, and the passes are short.
run_tsan_unit() {
  tsan_run "" "$tsan_dir/tests/qr_unit_tests" --gtest_filter='Threads.*:Port.*:State.*' \
    --gtest_repeat=3
}
run_tsan_editor() {
  tsan_run "" "$tsan_dir/tests/qr_editor_tests" --gtest_filter='HostUpdates.*:Events.*' \
    --gtest_repeat=3
}
run_tsan_midi() {
  # Every case runs the JACK client's own thread against the test's; libjack's lock-free
  # ring buffer is not instrumented (see the suppressions file).
  tsan_run "$root/tests/platform/tsan.supp" "$tsan_dir/tests/platform/qr_platform_midi_tests" \
    --gtest_filter='MidiOverJack.*:MidiJackServerTrouble.*'
}

if [ "$only" != tsan ]; then
  if step "build (AddressSanitizer + UndefinedBehaviorSanitizer)" build_asan; then
    step "all tests (AddressSanitizer + UndefinedBehaviorSanitizer + LeakSanitizer)" run_asan_tests
  fi
fi
if [ "$only" != asan ]; then
  if step "build (ThreadSanitizer)" build_tsan; then
    step "effect threads and the MIDI sender (ThreadSanitizer)" run_tsan_unit
    step "host updates to the window (ThreadSanitizer)" run_tsan_editor
    step "JACK MIDI service (ThreadSanitizer)" run_tsan_midi
  fi
fi

steps_summary "sanitizer steps"
