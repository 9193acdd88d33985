#!/usr/bin/env python3
"""The plug-in's window in a real X11 window, driven like a user would.

Starts a private Xvfb and a JACK server (dummy driver) with jack_midi_dump as the MIDI
receiver, opens the shipped plug-in's editor in qrhost's window, drags the knob of channel 1
with xdotool and checks that the receiver sees its Control Change, clicks "25-48" and checks
that page two shows, and compares a screenshot with the offscreen rendering of the same
state. Exits 77 (skipped) when Xvfb, xdotool, ImageMagick or JACK are missing.

usage: window_test.py <qrhost> <plug-in file> <work directory>
"""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from xvfb import Xvfb, stop_process as stop  # noqa: E402

SKIP = 77
TIMEOUT = 15.0
SERVER = "qrwindowtest"
TOLERANCE = 50  # pixels; both pictures come from the same rasteriser

failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        failures.append(message)


def wait_for(predicate, timeout=TIMEOUT):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return None


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    qrhost, plugin, work = (os.path.abspath(a) for a in sys.argv[1:])
    for tool in ("Xvfb", "xdotool", "import", "compare", "jackd", "jack_midi_dump", "jack_lsp"):
        if not shutil.which(tool):
            print(f"skipped: {tool} is missing")
            return SKIP
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, JACK_DEFAULT_SERVER=SERVER, JACK_NO_AUDIO_RESERVATION="1")
    env.pop("DISPLAY", None)
    xvfb = jack = dump = host = None
    try:
        xvfb = Xvfb()
        env["DISPLAY"] = xvfb.display
        jack = subprocess.Popen(["jackd", "-r", "-n", SERVER, "-d", "dummy", "-r", "48000", "-p", "256"],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ok = wait_for(lambda: subprocess.run(["jack_lsp"], env=env, capture_output=True).returncode == 0)
        check(bool(ok), "JACK server with the dummy driver is up")
        dump_log = open(os.path.join(work, "received.txt"), "w")
        dump = subprocess.Popen(["stdbuf", "-oL", "jack_midi_dump", "qr-receiver"], env=env,
                                stdout=dump_log, stderr=subprocess.DEVNULL)
        wait_for(lambda: "qr-receiver:input" in subprocess.run(
            ["jack_lsp"], env=env, capture_output=True, text=True).stdout)

        devices = subprocess.run([qrhost, "devices"], env=env, capture_output=True, text=True).stdout
        match = re.search(r"^\s*(\d+)\s+qr-receiver:input", devices, re.M)
        check(match is not None, "the receiver is listed as a MIDI output device")
        device = match.group(1) if match else "0"

        host_log = open(os.path.join(work, "host.txt"), "w")
        host = subprocess.Popen([qrhost, "window", plugin, "--seconds", "40", f"0={device}"],
                                env=env, stdout=host_log, stderr=subprocess.STDOUT)
        window = wait_for(lambda: subprocess.run(
            ["xdotool", "search", "--name", "qrhost: Quorvel"], env=env, capture_output=True,
            text=True).stdout.split())
        check(bool(window), "the host's window appears")
        if not window:
            return 1
        window = window[0]
        # Away from the screen's edge, so that drags have room above the window.
        subprocess.run(["xdotool", "windowmove", window, "200", "200"], env=env, check=False)
        time.sleep(1.0)
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                                  capture_output=True, text=True).stdout
        values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
        origin_x, origin_y = int(values["X"]), int(values["Y"])
        check((values.get("WIDTH"), values.get("HEIGHT")) == ("573", "394"),
              f"the window is 573 x 394 ({values.get('WIDTH')} x {values.get('HEIGHT')})")

        def xdo(*arguments):
            subprocess.run(["xdotool", *map(str, arguments)], env=env, check=False)

        # Drag the knob of channel 1 (centre 40, 77) up by 100 pixels.
        x, y = origin_x + 40, origin_y + 77
        xdo("mousemove", x, y)
        xdo("mousedown", 1)
        for step in range(1, 11):
            xdo("mousemove", x, y - 10 * step)
            time.sleep(0.1)
        xdo("mouseup", 1)
        time.sleep(1.5)  # idle pace of the host plus the JACK cycles
        received = wait_for(lambda: re.findall(r"b1 18 ([0-9a-f]{2})", open(dump_log.name).read()))
        check(bool(received), "the receiver sees Control Changes of channel 1 (status b1, controller 24)")
        if received:
            last = int(received[-1], 16)
            check(55 <= last <= 70, f"the last value is about half way ({last})")
        check(wait_for(lambda: "automate 2 " in open(host_log.name).read()) is not None,
              "the host hears the change as automation of parameter 2")

        # "25-48" shows page two.
        xdo("mousemove", origin_x + 100, origin_y + 12)
        xdo("click", 1)
        time.sleep(1.0)
        shot = os.path.join(work, "window_page2.png")
        subprocess.run(["import", "-window", window, shot], env=env, check=False)
        reference = os.path.join(work, "offscreen_page2.png")
        subprocess.run([qrhost, "render", reference, f"0={device}", "click:100,12"], env=env,
                       check=False, capture_output=True)
        result = subprocess.run(["compare", "-metric", "AE", shot, reference,
                                 os.path.join(work, "difference.png")],
                                capture_output=True, text=True)
        differing = result.stderr.strip().split(" ")[0]
        try:
            differing = float(differing)
        except ValueError:
            differing = float("inf")
        check(differing <= TOLERANCE,
              f"the screenshot of page two matches the offscreen rendering ({differing} pixels differ)")
        # Page two's first knob is channel 25: status b4, controller 24.
        xdo("mousemove", x, y)
        xdo("mousedown", 1)
        xdo("mousemove", x, y - 60)
        xdo("mouseup", 1)
        check(wait_for(lambda: re.search(r"b4 18", open(dump_log.name).read())) is not None,
              "page two's first knob sends channel 25 (status b4, controller 24)")
    finally:
        for process in (host, dump, jack):
            stop(process)
        if xvfb:
            xvfb.stop()
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
