#!/bin/sh
# Drives the Win32 window backend under Wine and Xvfb: the window tests, then the demo window
# dragged, wheeled and clicked with xdotool, a screenshot compared with the demo's offscreen
# rendering of the same state.
#
#   tests/toolkit/win32/window_check.sh BUILD_DIR [OUT_DIR]
#
# BUILD_DIR is a 64-bit Windows build (32-bit Windows programs do not run on every Wine).
# Uses DISPLAY when set, otherwise starts Xvfb on :57. WINEPREFIX defaults to OUT_DIR/prefix.
set -eu

build=$(cd "$1" && pwd)
out=${2:-/tmp/qr_window_check}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bin=$build/tests/toolkit/win32
wine=${WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=${WINEPREFIX:-$out/prefix} WINEDEBUG=-all

xvfb=
if [ -z "${DISPLAY:-}" ]; then
    Xvfb :57 -screen 0 1024x768x24 >"$out/xvfb.log" 2>&1 &
    xvfb=$!
    export DISPLAY=:57
    sleep 2
fi
demo=
cleanup() {
    [ -n "$demo" ] && kill "$demo" 2>/dev/null || true
    if [ -n "$xvfb" ]; then
        # Wine's own processes in the prefix go before the display they use.
        "${WINESERVER:-/usr/lib/wine/wineserver}" -k 2>/dev/null || true
        kill "$xvfb" 2>/dev/null || true
    fi
}
trap cleanup EXIT

fail() {
    echo "window check: $*" >&2
    exit 1
}

"$wine" "$bin/qr_toolkit_window_tests.exe" || fail "window tests failed"

rm -f "$out/stop" "$out/offscreen.png" "$out/demo.out"
winout=$("$wine" winepath -w "$out" 2>/dev/null)
"$wine" "$bin/qr_toolkit_window_demo.exe" --seconds 60 --stop "$winout\\stop" \
    --png "$winout\\offscreen.png" >"$out/demo.out" 2>&1 &
demo=$!
for _ in $(seq 50); do
    grep -q '^ready' "$out/demo.out" 2>/dev/null && break
    sleep 0.2
done
grep -q '^ready' "$out/demo.out" || fail "the demo window did not come up"
sleep 1
eval "$(xdotool search --name 'Toolkit window check' getwindowgeometry --shell | head -5)"
x0=$X
y0=$Y

# Channel 1's knob: dragged 60 pixels up (+0.3). Channel 2's knob: two notches up, one down.
xdotool mousemove $((x0 + 40)) $((y0 + 77)) mousedown 1
for y in 70 60 50 40 30 17; do
    sleep 0.1
    xdotool mousemove $((x0 + 40)) $((y0 + y))
done
xdotool mouseup 1
sleep 0.3
xdotool mousemove $((x0 + 110)) $((y0 + 77)) click 4 click 4 click 5
sleep 0.3
# The link switch, then the second entry of the menu, then shrink and grow again.
xdotool mousemove $((x0 + 78)) $((y0 + 135)) click 1
sleep 0.3
xdotool mousemove $((x0 + 300)) $((y0 + 10)) click 1
sleep 1
import -window root "$out/menu.png"
xdotool mousemove $((x0 + 280)) $((y0 + 52)) click 1
sleep 0.5
xdotool mousemove $((x0 + 470)) $((y0 + 12)) click 1
sleep 1
import -window root "$out/shrunk.png"
xdotool mousemove $((x0 + 470)) $((y0 + 12)) click 1
sleep 1
xdotool mousemove 1000 700
sleep 0.5
import -window root "$out/screen.png"
touch "$out/stop"
wait "$demo" || fail "the demo ended badly"
demo=

tr -d '\r' <"$out/demo.out" >"$out/demo.txt" # Windows line ends
cat "$out/demo.txt"
grep -qx 'final knob1 0.300 knob2 0.510 link 1 menu 1 shrink 0' "$out/demo.txt" ||
    fail "unexpected final values"
grep -qx 'host client 573x394' "$out/demo.txt" || fail "the host did not grow back"
convert "$out/screen.png" -crop "573x394+$x0+$y0" +repage "$out/window.png"
convert "$out/offscreen.png" -background black -flatten -alpha off "$out/offscreen_flat.png"
differing=$(compare -metric AE "$out/window.png" "$out/offscreen_flat.png" "$out/diff.png" 2>&1 ||
    true)
echo "pixels differing between screenshot and offscreen rendering: $differing"
[ "$differing" = 0 ] || fail "the window does not show what the frame renders"
echo "window check passed; pictures in $out"
