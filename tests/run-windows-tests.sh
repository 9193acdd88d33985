#!/usr/bin/env bash
# Runs the test programs of a Windows build (win32 or win64 preset) under Wine.
#
#   tests/run-windows-tests.sh BUILD_DIR
#
# Every *_tests.exe under BUILD_DIR/tests runs in its own folder with a timeout, and then, when
# the build has qrhost.exe, a scripted session through it against the recording winmm.dll. One
# line per program says PASS, FAIL, TIMEOUT or SKIP; the exit code is 1 if anything failed.
# Output of each program goes to BUILD_DIR/wine-logs/.
#
# The Wine prefix lives in BUILD_DIR/wine-prefix and is made once (that takes a while).
# Settings from the environment:
#   QR_WINE_TIMEOUT  seconds per program (default 300; 1200 when 32-bit code is emulated)
#   QR_WINE32        how to run a 32-bit build:
#                    auto (default) Wine's own 32-bit loader where this machine executes it;
#                      where it does not (a kernel without 32-bit support), the programs that
#                      load the shipped plug-in (tests/wine, tests/host, qrhost) run under
#                      qemu-i386 if qemu-user is installed, and every other one is reported
#                      as skipped;
#                    native  Wine's 32-bit loader or fail;
#                    qemu    every program under qemu-i386 (about 35 s of start-up each, and
#                      programs with several busy threads crash there);
#                    skip    report every 32-bit program as skipped
#   QR_WINE_STRICT   1: a skipped program counts as a failure
set -u

usage() {
    echo "usage: $0 BUILD_DIR   (a build of the win32 or win64 preset)" >&2
    exit 2
}
[ $# -eq 1 ] || usage
[ -d "$1" ] || usage
build=$(cd "$1" && pwd)

wine64_loader=${QR_WINE64_LOADER:-/usr/lib/wine/wine64}
wine32_loader=${QR_WINE32_LOADER:-/usr/lib/wine/wine}
[ -x "$wine64_loader" ] || wine64_loader=$(command -v wine64 || true)
[ -x "$wine32_loader" ] || wine32_loader=$(command -v wine || true)
wineserver=$(dirname "${wine64_loader:-/usr/lib/wine/x}")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
if [ -z "$wine64_loader" ] || [ -z "$wineserver" ]; then
    echo "FAIL  Wine is not installed (need wine64 and wineserver; Debian: apt-get install wine wine64)"
    exit 1
fi

# The machine type in the PE header of a Windows program: 32 or 64, empty if not a PE file.
pe_bits() {
    local offset machine
    offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$offset" ] || return 0
    machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    case "$machine" in
        014c) echo 32 ;;
        8664) echo 64 ;;
    esac
}

mapfile -t programs < <(find "$build/tests" -name '*_tests.exe' -not -path '*/CMakeFiles/*' \
    -not -path '*/googletest/*' 2>/dev/null | sort)
probe="$build/tests/wine/qr_wine_probe.exe"
if [ ${#programs[@]} -eq 0 ]; then
    echo "FAIL  no *_tests.exe under $build/tests: build the tests first"
    exit 1
fi
bits=$(pe_bits "${programs[0]}")
[ -n "$bits" ] || { echo "FAIL  ${programs[0]} is not a Windows program"; exit 1; }

export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
# No Mono or Gecko install prompts; the MIDI calls come from a winmm.dll next to a program
# when there is one, and from Wine's own otherwise.
export WINEDLLOVERRIDES="mscoree,mshtml=;winmm=n,b"
export WINEARCH=win64
logs="$build/wine-logs"
mkdir -p "$logs"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

passed=0 failed=0 skipped=0
report() { # STATUS NAME DETAIL
    printf '%-8s %s  %s\n' "$1" "$2" "$3"
    case "$1" in
        PASS) passed=$((passed + 1)) ;;
        SKIP) skipped=$((skipped + 1)) ;;
        *) failed=$((failed + 1)) ;;
    esac
}

# --- The prefix, made once per build folder. -------------------------------------------------
if [ ! -f "$WINEPREFIX/.qr-prefix-ready" ]; then
    echo "making the Wine prefix $WINEPREFIX (once; this takes a while)"
    started=$(now)
    rm -rf "$WINEPREFIX"
    if ! timeout 600 "$wine64_loader" wineboot --init >"$logs/wineboot.log" 2>&1; then
        echo "FAIL  could not make the Wine prefix (see $logs/wineboot.log)"
        exit 1
    fi
    # A crashing program prints its backtrace instead of waiting at a dialog.
    timeout 120 "$wine64_loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
        /t REG_DWORD /d 0 /f >>"$logs/wineboot.log" 2>&1
    timeout 120 "$wineserver" -w
    touch "$WINEPREFIX/.qr-prefix-ready"
    echo "prefix ready in $(elapsed "$started") s"
fi

# One server for the whole run instead of one per program; stopped again on the way out.
"$wineserver" -p >/dev/null 2>&1
trap '"$wineserver" -k >/dev/null 2>&1; "$wineserver" -w >/dev/null 2>&1' EXIT

# --- How programs of this word size run here. ---------------------------------------------------
runner=()
mode=native
emulate_all=1
timeout_s=${QR_WINE_TIMEOUT:-300}
skip_reason=""
if [ "$bits" = 64 ]; then
    runner=("$wine64_loader")
else
    want=${QR_WINE32:-auto}
    # Decided by trying: Wine's 32-bit loader is itself a 32-bit Linux program, which some
    # kernels refuse to execute, and then the probe program has to run under it.
    why_not=""
    if [ -z "$wine32_loader" ]; then
        why_not="Wine's 32-bit loader is not installed (Debian: apt-get install wine32:i386)"
    else
        "$wine32_loader" --version >"$logs/probe32.log" 2>&1
        rc=$?
        if [ $rc -eq 126 ]; then
            why_not="the kernel does not execute 32-bit Linux programs such as Wine's 32-bit"
            why_not+=" loader $wine32_loader (exec format error)"
        elif [ $rc -ne 0 ]; then
            why_not="$wine32_loader --version failed with exit $rc"
        elif [ ! -f "$probe" ]; then
            why_not="the probe program $probe is missing"
        elif ! (cd "$(dirname "$probe")" && timeout 120 "$wine32_loader" "$probe") \
            >"$logs/probe32.log" 2>&1; then
            why_not="a 32-bit probe program did not run: $(head -c 300 "$logs/probe32.log" |
                tr '\n' ' ')"
        fi
    fi
    qemu=$(command -v qemu-i386 || true)
    pe32=/usr/lib/i386-linux-gnu/wine/i386-windows
    use_qemu() { # ALL: 1 every program, 0 only those that load the shipped plug-in
        # Without a 32-bit wineboot the prefix lacks its 32-bit system folder; Wine's own
        # 32-bit DLLs serve as it.
        local wow="$WINEPREFIX/drive_c/windows/syswow64"
        [ -f "$wow/kernel32.dll" ] || cp -n "$pe32"/* "$wow"/
        # The preloader cannot be started under qemu; Wine then reserves memory itself.
        runner=(env WINELOADERNOEXEC=1 "$qemu" -R 0xc0000000 -L / "$wine32_loader")
        mode="emulated (qemu-i386)"
        # qemu-user crashes in programs with several busy threads; the validator's cases start
        # such threads against the fake plug-in, so they run only where Wine runs natively.
        export GTEST_FILTER='-ValidatorOnFake.*:FamiliesOnFake.*'
        echo "(emulated: the validator's multi-threaded cases are left out, GTEST_FILTER=$GTEST_FILTER)"
        emulate_all=$1
        timeout_s=${QR_WINE_TIMEOUT:-1200}
    }
    case "$want" in
        skip) skip_reason="32-bit tests not run (QR_WINE32=skip)" ;;
        native | auto)
            if [ -z "$why_not" ]; then
                runner=("$wine32_loader")
            elif [ "$want" = native ]; then
                echo "FAIL  32-bit Windows programs do not run here: $why_not"
                exit 1
            else
                echo "32-bit Windows programs cannot run natively here: $why_not."
                if [ -n "$qemu" ] && [ -d "$pe32" ] && [ -n "$wine32_loader" ]; then
                    echo "The programs that load the shipped plug-in run under qemu-i386 instead"
                    echo "(QR_WINE32=qemu: all programs, though multi-threaded ones crash there)."
                    use_qemu 0
                else
                    echo "(With qemu-user installed, the plug-in checks would run emulated.)"
                    skip_reason="32-bit Windows programs cannot run on this machine"
                fi
            fi
            ;;
        qemu)
            if [ -z "$qemu" ] || [ ! -d "$pe32" ] || [ -z "$wine32_loader" ]; then
                echo "FAIL  QR_WINE32=qemu needs qemu-i386 and Wine's 32-bit part" \
                    "(Debian: apt-get install qemu-user wine32:i386)"
                exit 1
            fi
            use_qemu 1
            ;;
        *) usage ;;
    esac
fi

echo "win$bits build $build: Wine $("$wine64_loader" --version 2>/dev/null), ${mode} execution"

# run_program LOGNAME DIR PROGRAM ARGS...: runs it, leaves the output in the log; the exit code.
run_program() {
    local log=$1 dir=$2
    shift 2
    (cd "$dir" && timeout -k 10 "$timeout_s" "${runner[@]}" "$@") >"$log" 2>&1
}

# Programs that load the shipped plug-in DLL itself, rather than its code linked in.
loads_plugin() {
    case "$1" in
        tests/wine/* | tests/host/*) return 0 ;;
        *) return 1 ;;
    esac
}

# --- Every test program. --------------------------------------------------------------------
for exe in "${programs[@]}"; do
    name=${exe#"$build"/}
    log="$logs/$(basename "$exe" .exe).log"
    if [ -n "$skip_reason" ]; then
        report SKIP "$name" "$skip_reason"
        continue
    fi
    if [ "$emulate_all" = 0 ] && ! loads_plugin "$name"; then
        report SKIP "$name" "not run emulated: only the programs that load the shipped plug-in are"
        continue
    fi
    started=$(now)
    run_program "$log" "$(dirname "$exe")" "./$(basename "$exe")"
    rc=$?
    took=$(elapsed "$started")
    if [ $rc -eq 0 ]; then
        summary=$(grep -E '^\[  PASSED  \]|^PASS' "$log" | tail -1)
        # Tests that skipped themselves are not passes: say how many.
        skips=$(grep -E '^\[  SKIPPED \] [0-9]+ tests?,' "$log" | tail -1 | sed 's/^\[  SKIPPED \] //')
        [ -n "$skips" ] && summary+=" ($(echo "$skips" | sed 's/,.*//') skipped inside)"
        report PASS "$name" "${took} s${summary:+, $summary}"
    else
        if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
            report TIMEOUT "$name" "stopped after ${timeout_s} s, log $log"
        else
            report FAIL "$name" "exit $rc after ${took} s, log $log"
        fi
        grep -E '^\[  FAILED  \]|FAIL|Failure|error' "$log" | head -20 | sed 's/^/      /'
        tail -5 "$log" | sed 's/^/    | /'
    fi
done

# --- The same MIDI check through the host tool, when the build has it. --------------------------
# qrhost and the recording winmm.dll go together into a folder of their own, so that the loader
# finds our winmm.dll beside the program while the plug-in stays the shipped file.
qrhost="$build/qrhost.exe"
recorder="$build/tests/wine/winmm.dll"
plugin="$build/QuorvelRemote.dll"
if [ -f "$qrhost" ] && [ -f "$recorder" ] && [ -f "$plugin" ]; then
    name="qrhost script (recorded MIDI)"
    if [ -n "$skip_reason" ]; then
        report SKIP "$name" "$skip_reason"
    else
        stage="$build/wine-qrhost"
        mkdir -p "$stage"
        cp -f "$qrhost" "$recorder" "$stage"/
        printf 'device 0\nset 5 0.5\nrefresh\n' >"$stage/session.txt"
        midi_log="$stage/midi.log"
        rm -f "$midi_log"
        expected="$stage/expected.log"
        {
            echo "open 0"
            echo "send 0 b1 1b 3f"
            for ch in $(seq 0 47); do
                value=00
                [ "$ch" -eq 3 ] && value=3f
                printf 'send 0 %02x %02x %s\n' $((0xB1 + ch / 8)) $((24 + ch % 8)) "$value"
            done
            echo "close 0"
        } >"$expected"
        log="$logs/qrhost-script.log"
        started=$(now)
        QR_WINMM_LOG="Z:${midi_log//\//\\}" QR_WINMM_DEVICES=3 \
            run_program "$log" "$stage" ./qrhost.exe script "Z:${plugin//\//\\}" session.txt
        rc=$?
        took=$(elapsed "$started")
        if [ $rc -ne 0 ]; then
            report FAIL "$name" "qrhost exit $rc after ${took} s, log $log"
            tail -5 "$log" | sed 's/^/    | /'
        elif ! diff <(tr -d '\r' <"$midi_log" 2>/dev/null) "$expected" >"$stage/midi.diff"; then
            report FAIL "$name" "recorded MIDI differs from the expected (${took} s):"
            head -20 "$stage/midi.diff" | sed 's/^/    | /'
        else
            report PASS "$name" "${took} s, open, 1 gain change, 48 refreshed gains, close"
        fi
    fi
fi

echo "win$bits: $passed passed, $failed failed, $skipped skipped"
if [ $failed -gt 0 ]; then exit 1; fi
if [ $skipped -gt 0 ] && [ "${QR_WINE_STRICT:-0}" = 1 ]; then exit 1; fi
exit 0
