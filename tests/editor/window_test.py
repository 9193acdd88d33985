#!/usr/bin/env python3
"""The plug-in's window in a real X11 window, driven like a user would.

Starts a private Xvfb and a JACK server (dummy driver) with jack_midi_dump as the MIDI
receiver, opens the shipped plug-in's editor in qrhost's window with gain 1 set by the host,
drags the knob of channel 1 to its floor in one move and checks that the receiver and the host
see the change, drags it up and checks its Control Changes, clicks "25-48" and checks
that page two shows, and compares a screenshot with the offscreen rendering of the same
state. Exits 77 (skipped) when Xvfb, xdotool, ImageMagick or JACK are missing.

usage: window_test.py <qrhost> <plug-in file> <work directory>
       window_test.py --wine <wine64 loader> <Windows build directory> <work directory>

With --wine the Windows build's qrhost.exe and plug-in DLL run under Wine, and the MIDI
receiver is our recording winmm.dll in place of the system's.
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


class LinuxSession:
    """The Linux plug-in in qrhost, MIDI through a private JACK server to jack_midi_dump."""

    tools = ("jackd", "jack_midi_dump", "jack_lsp")

    def __init__(self, qrhost, plugin, work, env):
        self.qrhost, self.plugin, self.work = qrhost, plugin, work
        self.env = dict(env, JACK_DEFAULT_SERVER=SERVER, JACK_NO_AUDIO_RESERVATION="1")
        self.processes = []
        self.received = os.path.join(work, "received.txt")

    def start(self):
        self.processes.append(subprocess.Popen(
            ["jackd", "-S", "-r", "-n", SERVER, "-d", "dummy", "-r", "48000", "-p", "256"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        ok = wait_for(lambda: subprocess.run(["jack_lsp"], env=self.env,
                                             capture_output=True).returncode == 0)
        check(bool(ok), "JACK server with the dummy driver is up")
        self.processes.append(subprocess.Popen(
            ["stdbuf", "-oL", "jack_midi_dump", "qr-receiver"], env=self.env,
            stdout=open(self.received, "w"), stderr=subprocess.DEVNULL))
        wait_for(lambda: "qr-receiver:input" in subprocess.run(
            ["jack_lsp"], env=self.env, capture_output=True, text=True).stdout)
        devices = subprocess.run([self.qrhost, "devices"], env=self.env, capture_output=True,
                                 text=True).stdout
        match = re.search(r"^\s*(\d+)\s+qr-receiver:input", devices, re.M)
        check(match is not None, "the receiver is listed as a MIDI output device")
        return match.group(1) if match else "0"

    def host(self, *arguments):
        return [self.qrhost, arguments[0], *([self.plugin] if arguments[0] == "window" else []),
                *arguments[1:]]

    def path(self, name):
        return os.path.join(self.work, name)

    def messages(self, status, controller):
        """Values received for one controller, oldest first."""
        text = open(self.received).read()
        return [int(v, 16) for v in re.findall(rf"{status:02x} {controller:02x} ([0-9a-f]{{2}})", text)]

    def stop(self):
        for process in reversed(self.processes):
            stop(process)


class WineSession:
    """The Windows plug-in in qrhost.exe under Wine, MIDI into our recording winmm.dll."""

    tools = ()

    def __init__(self, wine, build, work, env):
        self.wine, self.build, self.work = wine, build, work
        stage = os.path.join(work, "stage")
        os.makedirs(stage, exist_ok=True)
        for name in ("qrhost.exe", "QuorvelRemote.dll"):
            shutil.copy(os.path.join(build, name), stage)
        shutil.copy(os.path.join(build, "tests", "wine", "winmm.dll"), stage)
        self.stage = stage
        self.log = os.path.join(work, "midi.log")
        if os.path.exists(self.log):
            os.remove(self.log)
        self.env = dict(env, WINEPREFIX=os.path.join(build, "wine-prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winmm=n,b",
                        QR_WINMM_LOG=self.windows_path(self.log))

    @staticmethod
    def windows_path(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def start(self):
        # A Wine session left from a program run without a display keeps a desktop that has
        # none; end it so that this one starts on the test's X server.
        wineserver = os.path.join(os.path.dirname(self.wine), "wineserver")
        if not os.path.exists(wineserver):
            wineserver = shutil.which("wineserver") or "wineserver"
        subprocess.run([wineserver, "-k"], env=self.env, capture_output=True, check=False)
        subprocess.run([wineserver, "-w"], env=self.env, capture_output=True, check=False,
                       timeout=60)
        return "0"

    def host(self, *arguments):
        plugin = [self.windows_path(os.path.join(self.stage, "QuorvelRemote.dll"))]
        return [self.wine, os.path.join(self.stage, "qrhost.exe"), arguments[0],
                *(plugin if arguments[0] == "window" else []), *arguments[1:]]

    def path(self, name):
        return self.windows_path(os.path.join(self.work, name))

    def messages(self, status, controller):
        if not os.path.exists(self.log):
            return []
        text = open(self.log).read()
        return [int(v, 16) for v in re.findall(rf"send \d+ {status:02x} {controller:02x} ([0-9a-f]{{2}})", text)]

    def stop(self):
        pass


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--wine":
        wine, build, work = sys.argv[2], os.path.abspath(sys.argv[3]), os.path.abspath(sys.argv[4])
        make = lambda env: WineSession(wine, build, work, env)  # noqa: E731
        title = "qrhost: Quorvel"
    elif len(sys.argv) == 4:
        qrhost, plugin, work = (os.path.abspath(a) for a in sys.argv[1:])
        make = lambda env: LinuxSession(qrhost, plugin, work, env)  # noqa: E731
        title = "qrhost: Quorvel"
    else:
        print(__doc__)
        return 2
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    session = make(env)
    for tool in ("Xvfb", "xdotool", "import", "compare", *session.tools):
        if not shutil.which(tool):
            print(f"skipped: {tool} is missing")
            return SKIP
    xvfb = host = None
    try:
        xvfb = Xvfb()
        session.env["DISPLAY"] = xvfb.display
        env = session.env
        device = session.start()

        host_log = open(os.path.join(work, "host.txt"), "w")
        # Gain 1 comes from the host before the window opens, as from a restored project.
        host = subprocess.Popen(session.host("window", "--seconds", "60", f"0={device}", "2=0.8"),
                                env=env, stdout=host_log, stderr=subprocess.STDOUT)
        window = wait_for(lambda: subprocess.run(
            ["xdotool", "search", "--name", title], env=env, capture_output=True,
            text=True).stdout.split(), timeout=60)
        check(bool(window), "the host's window appears")
        if not window:
            return 1
        window = window[-1]
        # Away from the screen's edge, so that drags have room above the window.
        subprocess.run(["xdotool", "windowmove", window, "200", "200"], env=env, check=False)
        time.sleep(2.0)
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                                  capture_output=True, text=True).stdout
        values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
        origin_x, origin_y = int(values["X"]), int(values["Y"])
        check((values.get("WIDTH"), values.get("HEIGHT")) == ("573", "394"),
              f"the window is 573 x 394 ({values.get('WIDTH')} x {values.get('HEIGHT')})")

        def xdo(*arguments):
            subprocess.run(["xdotool", *map(str, arguments)], env=env, check=False)

        # The knob of channel 1 (centre 40, 77), at 0.8 from the host, dragged to its floor in
        # one mouse move: the new step reaches the device and the host.
        x, y = origin_x + 40, origin_y + 77
        xdo("mousemove", x, y)
        xdo("mousedown", 1)
        xdo("mousemove", x, y + 180)
        xdo("mouseup", 1)
        check(wait_for(lambda: session.messages(0xB1, 24)[-1:] == [0]) is not None,
              "dragged to the floor from the host's 0.8: the receiver gets the value 0")
        check(wait_for(lambda: re.search(r"^automate 2 0$", open(host_log.name).read(), re.M))
              is not None, "and the host hears the change as automation of parameter 2")

        # Then up by 100 pixels.
        xdo("mousemove", x, y)
        xdo("mousedown", 1)
        for step in range(1, 11):
            xdo("mousemove", x, y - 10 * step)
            time.sleep(0.1)
        xdo("mouseup", 1)
        time.sleep(1.5)  # idle pace of the host plus the MIDI service
        received = wait_for(lambda: session.messages(0xB1, 24))
        check(bool(received), "the receiver sees Control Changes of channel 1 (status b1, controller 24)")
        if received:
            check(55 <= received[-1] <= 70, f"the last value is about half way ({received[-1]})")
            check(all(a != b for a, b in zip(received, received[1:])),
                  "one message per 7-bit step, none repeated")
        check(wait_for(lambda: "automate 2 " in open(host_log.name).read()) is not None,
              "the host hears the change as automation of parameter 2")

        # "25-48" shows page two.
        xdo("mousemove", origin_x + 100, origin_y + 12)
        xdo("click", 1)
        time.sleep(1.5)
        shot = os.path.join(work, "window_page2.png")
        subprocess.run(["import", "-window", "root", "-crop",
                        f"573x394+{origin_x}+{origin_y}", "+repage", shot], env=env, check=False)
        reference = os.path.join(work, "offscreen_page2.png")
        subprocess.run(session.host("render", session.path("offscreen_page2.png"), f"0={device}",
                                    "click:100,12"), env=env, check=False, capture_output=True)
        flat = os.path.join(work, "offscreen_page2_flat.png")
        subprocess.run(["convert", reference, "-background", "black", "-flatten", "-alpha", "off",
                        flat], check=False)
        result = subprocess.run(["compare", "-metric", "AE", shot, flat,
                                 os.path.join(work, "difference.png")],
                                capture_output=True, text=True)
        try:
            differing = float(result.stderr.strip().split(" ")[0])
        except ValueError:
            differing = float("inf")
        check(differing <= TOLERANCE,
              f"the screenshot of page two matches the offscreen rendering ({differing} pixels differ)")
        # Page two's first knob is channel 25: status b4, controller 24.
        xdo("mousemove", x, y)
        xdo("mousedown", 1)
        xdo("mousemove", x, y - 60)
        xdo("mouseup", 1)
        check(wait_for(lambda: session.messages(0xB4, 24)) is not None,
              "page two's first knob sends channel 25 (status b4, controller 24)")
    finally:
        stop(host)
        session.stop()
        if xvfb:
            xvfb.stop()
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
