#!/usr/bin/env bash
# The main job: installs what is missing, builds the Linux plug-in and both Windows DLLs, loads
# the Linux plug-in in our host and shows it working: identity, parameters, and a short
# scripted session whose MIDI messages arrive at a receiver. Without a MIDI output on this
# machine, a virtual one is brought up (a JACK server with a dummy driver) so the messages
# can be seen.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

"$root/scripts/setup-debian.sh"

for preset in linux win64 win32; do
  echo "== Building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" 2>&1 | grep -E "error|warning|Built target QuorvelRemote" || true
done
ls -l build/linux/QuorvelRemote.so build/win32/QuorvelRemote.dll build/win64/QuorvelRemote.dll

host="$root/build/linux/qrhost"
plugin="$root/build/linux/QuorvelRemote.so"

echo
echo "== The plug-in as a host sees it"
"$host" info "$plugin"

work=$(mktemp -d)
cleanup() {
  [ -n "${dump_pid:-}" ] && kill "$dump_pid" 2>/dev/null
  [ -n "${jack_pid:-}" ] && kill "$jack_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo
echo "== MIDI output devices"
if ! "$host" devices | grep -q '^ *[0-9]'; then
  echo "No MIDI output here: starting a virtual one (JACK, dummy driver) with a receiver."
  export JACK_NO_AUDIO_RESERVATION=1
  jackd -S --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
  jack_pid=$!
  for _ in $(seq 50); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
fi
if jack_lsp >/dev/null 2>&1; then
  jack_midi_dump >"$work/received.txt" 2>&1 &
  dump_pid=$!
  for _ in $(seq 50); do jack_lsp 2>/dev/null | grep -q midi_dump && break; sleep 0.1; done
fi
"$host" devices

device=$("$host" devices | awk '/midi_dump|[Mm]idi[ _-]?[Dd]ump/ {print $1; exit}' | tr -d ':')
device=${device:-0}

echo
echo "== A scripted session (device $device)"
cat >"$work/session.txt" <<SCRIPT
# choose the MIDI output, move three gains, link channels 1+2, then resend everything
device $device
set 2 0.5
set 3 0.75
set 49 1.0
set 50 1.0
get 50
refresh
process 512
SCRIPT
"$host" script "$plugin" "$work/session.txt"
sleep 0.5

if [ -n "${dump_pid:-}" ]; then
  echo
  echo "== What the receiver (jack_midi_dump) saw"
  kill "$dump_pid" 2>/dev/null; wait "$dump_pid" 2>/dev/null || true
  dump_pid=
  head -n 8 "$work/received.txt"
  echo "... $(grep -c 'b[1-6]' "$work/received.txt" || true) Control Change messages in all"
fi

echo
echo "== The plug-in's window"
mkdir -p "$root/build/demo"
if [ -n "${DISPLAY:-}" ]; then
  echo "Opening the window for 30 seconds (close it to finish earlier)."
  "$host" window "$plugin" --seconds 30 "0=$device" || true
fi
"$host" render "$root/build/demo/window-page1.png" "0=$device" 2=0.5 3=0.5 50=1 5=0.8 12=0.62
"$host" render "$root/build/demo/window-page2.png" "0=$device" click:100,12 30=1 62=1
"$host" render "$root/build/demo/window-info.png" click:550,12
"$host" render "$root/build/demo/window-shrunk.png" click:472,12

echo
echo "== Release packages (build/packages)"
"$root/scripts/package.sh"
