#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the three targets, runs the Linux tests
# (unit, loaded plug-in, real MIDI receiver), the Windows tests under Wine, and the threaded
# tests under ThreadSanitizer. The last line counts the suites that passed and failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

"$root/scripts/setup-debian.sh" || { echo "setup failed"; exit 1; }

source "$root/scripts/steps.sh"

build_preset() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

run_linux_tests() {
  ctest --preset linux --timeout 300
}


step "build linux" build_preset linux
step "build win64" build_preset win64
step "build win32" build_preset win32
step "linux tests" run_linux_tests
if [ -x "$root/tests/run-windows-tests.sh" ]; then
  step "win64 tests (Wine)" "$root/tests/run-windows-tests.sh" "$root/build/win64"
  step "win32 tests (Wine)" "$root/tests/run-windows-tests.sh" "$root/build/win32"
fi
run_wine_window_test() {
  local build=$1 loader=$2
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "this machine cannot run $loader (a kernel without 32-bit support refuses Wine's 32-bit loader)"
    return 77
  fi
  python3 "$root/tests/editor/window_test.py" --wine "$loader" "$build" "$build/window-test"
}
# Validator checks known to fail on the plug-in for now: they run, print XFAIL and fail no
# step (the validate ctest reads the same file).
expected_failures() {
  grep -v -e '^#' -e '^$' "$root/tests/host/validator-expected-failures.txt" | paste -sd, -
}
# The validator runs beside the tests' recording winmm.dll, which Wine prefers to its own
# (winmm=n,b): the host reads back from its log every message the shipped plug-in sends. With
# display=1 it runs on a private Xvfb, so that the window checks get real windows.
run_wine_validate() {
  local build=$1
  shift
  local stage=$build/wine-validate
  mkdir -p "$stage" && cp -f "$build/qrhost.exe" "$build/tests/wine/winmm.dll" "$stage"/ || return 1
  rm -f "$stage/midi.log"
  (cd "$stage" && WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=;winmm=n,b" QR_WINMM_LOG="Z:${stage//\//\\}\\midi.log" \
    ${display:+python3 "$root/tests/support/with_xvfb.py" --optional} \
    timeout 900 "$@" qrhost.exe validate "Z:${build//\//\\}\\QuorvelRemote.dll" --quick \
    ${only:+"--only=$only"} ${skip:+"--skip=$skip"} "--expect-fail=$(expected_failures)")
}
# Where this kernel refuses Wine's 32-bit loader, qemu-i386 runs it. Two things fail inside the
# emulator, not the plug-in: four busy threads crash it, and the image codecs stop on an
# illegal instruction, so the window's bitmaps are empty and the editor check finds no size.
run_wine32_validate() {
  local build=$root/build/win32
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    only="" skip="" display=1 run_wine_validate "$build" /usr/lib/wine/wine
  elif [ ! -e /usr/lib/wine/wine ]; then
    echo "this machine has no 32-bit Wine (wine32:i386 is not installed)"
    return 77
  elif command -v qemu-i386 >/dev/null; then
    echo "emulated (qemu-i386): all checks but those with several busy threads and the editor's size"
    only="identity,programs,instances,editor while,audio,automation,hostile,device,size" \
      skip="4 threads,stall,during automation" display="" run_wine_validate "$build" \
      env WINELOADERNOEXEC=1 qemu-i386 -R 0xc0000000 -L / /usr/lib/wine/wine
  else
    echo "this machine runs no 32-bit Wine (no 32-bit loader and no qemu-i386)"
    return 77
  fi
}
only="" skip="" display=1 step "win64 validator (Wine)" run_wine_validate "$root/build/win64" \
  /usr/lib/wine/wine64
step "win32 validator (Wine)" run_wine32_validate
step "win64 window under Wine and Xvfb" run_wine_window_test "$root/build/win64" /usr/lib/wine/wine64
step "win32 window under Wine and Xvfb" run_wine_window_test "$root/build/win32" /usr/lib/wine/wine
# The release packages as users get them: built, checked, and the Debian package installed on
# this machine for Ardour to find, then removed.
if step "release packages (scripts/package.sh)" "$root/scripts/package.sh"; then
  step "release packages: contents, dependencies, versions" "$root/tests/packaging/check_packages.sh"
  step "Debian package: installed, found by Ardour 7 in /usr/lib/vst, removed" \
    "$root/tests/packaging/deb_ardour_test.sh"
fi
step "sanitizers (AddressSanitizer + UBSan on every suite, ThreadSanitizer on the threaded ones)" \
  "$root/scripts/sanitize.sh"
step "fuzzing for a minute: the dispatcher, the value texts, the state data and the window (libFuzzer)" \
  "$root/scripts/fuzz.sh" 60

steps_summary "suites"
