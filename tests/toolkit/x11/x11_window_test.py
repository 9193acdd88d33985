#!/usr/bin/env python3
"""The X11 window backend in a real window under a private Xvfb.

Drives qr_x11_window_check (a stand-in host with a knob, an on/off switch and an option menu)
with real input through xdotool and checks what the controls report; compares screenshots of
the window with the offscreen rendering of the same frame; resizes the window; and ends with
the host's window destroyed before the frame. Exits 77 (skipped) when Xvfb, xdotool or
ImageMagick are missing.

usage: x11_window_test.py <qr_x11_window_check> <work directory>
"""

import os
import re
import select
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from xvfb import Xvfb, window_geometry  # noqa: E402

SKIP = 77
TIMEOUT = 10.0
# Pixels that may differ between screenshot and offscreen picture (none are expected: both
# are drawn by the same rasteriser).
TOLERANCE = 20

# Layout of the stand-in host's frame (window coordinates).
KNOB = (44, 64)
SWITCH = (120, 64)
MENU_RECT = (170, 54, 300, 74)
MENU = (235, 64)
WIDTH, HEIGHT = 360, 240
KNOB_TAG, SWITCH_TAG, MENU_TAG = 1, 2, 3

failures = []


def check(condition, message):
    if condition:
        print("ok   " + message)
    else:
        print("FAIL " + message)
        failures.append(message)


class Program:
    """The stand-in host, with its output collected line by line."""

    def __init__(self, binary, env, mode="serve"):
        self.process = subprocess.Popen([binary, mode], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.lines = []
        self.seen = 0
        self.partial = b""

    def _read(self, timeout):
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        if not ready:
            return False
        chunk = os.read(self.process.stdout.fileno(), 4096)
        if not chunk:
            return False
        self.partial += chunk
        *complete, self.partial = self.partial.split(b"\n")
        self.lines.extend(line.decode("latin-1") for line in complete)
        return True

    def expect(self, pattern, timeout=TIMEOUT):
        """The first new line matching `pattern`, or None; lines before it are consumed."""
        deadline = time.time() + timeout
        while True:
            while self.seen < len(self.lines):
                line = self.lines[self.seen]
                self.seen += 1
                match = re.fullmatch(pattern, line)
                if match:
                    return match
            remaining = deadline - time.time()
            if remaining <= 0 or not self._read(remaining):
                if remaining <= 0 or self.process.poll() is not None:
                    return None

    def since(self, mark):
        """The lines printed after line number `mark`, without the answers to "sync"."""
        return [line for line in self.lines[mark:] if line != "synced"]

    def send(self, command):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()

    def ask(self, command, answer):
        self.send(command)
        return self.expect(answer)

    def sync(self):
        """After this, every event sent before has been handled and painted."""
        time.sleep(0.05)
        return self.ask("sync", "synced")

    def finish(self):
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        try:
            self.process.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        while self._read(0.1):
            pass
        return self.process.returncode, self.process.stderr.read().decode("latin-1")


def run(command, env, **kwargs):
    return subprocess.run(command, env=env, capture_output=True, text=True, timeout=TIMEOUT,
                          **kwargs)


def xdotool(env, *arguments):
    run(["xdotool"] + [str(a) for a in arguments], env)


def screenshot(env, path, geometry=None):
    full = path + ".full.png"
    run(["import", "-window", "root", full], env)
    if geometry:
        run(["convert", full, "-crop", geometry, "+repage", path], env)
    else:
        shutil.copyfile(full, path)
    os.remove(full)


def differing_pixels(first, second, env, diff):
    result = run(["compare", "-metric", "AE", first, second, diff], env)
    try:
        return int(float(result.stderr.split()[0]))
    except (IndexError, ValueError):
        return None


def matches_offscreen(program, env, workdir, name, origin, size):
    """Screenshot of the window against the offscreen picture, retried while the server is
    still busy painting."""
    offscreen = os.path.join(workdir, name + "-offscreen.png")
    opaque = os.path.join(workdir, name + "-offscreen-rgb.png")
    shot = os.path.join(workdir, name + "-window.png")
    if not program.ask("render " + offscreen, "rendered"):
        return None
    run(["convert", offscreen, "-background", "black", "-alpha", "remove", "-alpha", "off",
         opaque], env)
    geometry = "%dx%d+%d+%d" % (size[0], size[1], origin[0], origin[1])
    count = None
    for _ in range(10):
        program.sync()
        screenshot(env, shot, geometry)
        count = differing_pixels(shot, opaque, env, os.path.join(workdir, name + "-diff.png"))
        if count is not None and count <= TOLERANCE:
            break
        time.sleep(0.2)
    return count


def find_popup(env):
    deadline = time.time() + TIMEOUT
    while time.time() < deadline:
        found = run(["xdotool", "search", "--name", "^Popup menu$"], env).stdout.split()
        geometry = window_geometry(found[0], env) if found else None
        if geometry:
            return geometry
        time.sleep(0.05)
    return None


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    binary, workdir = sys.argv[1], sys.argv[2]
    for tool in ("Xvfb", "xdotool", "import", "convert", "compare", "xwininfo"):
        if not shutil.which(tool):
            print("skipped: %s is not installed" % tool)
            return SKIP
    os.makedirs(workdir, exist_ok=True)

    xvfb = Xvfb()
    try:
        env = dict(os.environ, DISPLAY=xvfb.display)
        no_display = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        stand_alone_checks(binary, env, no_display)
        window_checks(binary, env, workdir)
    finally:
        xvfb.stop()

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed; pictures in " + workdir)
    return 0


def stand_alone_checks(binary, env, no_display):
    for mode, environment, what in (("badparent", env, "a parent id that is no window"),
                                    ("badparent", no_display, "no display")):
        result = run([binary, mode], environment)
        check(result.returncode == 0 and "window null" in result.stdout
              and result.stderr == "", "%s: frame stays offscreen, process lives" % what)


def window_checks(binary, env, workdir):
    program = Program(binary, env)
    placed = program.expect(r"child (\d+) at (-?\d+) (-?\d+)")
    check(placed is not None, "the frame's window is a child of the host's window")
    if not placed:
        program.finish()
        return
    child = int(placed.group(1))
    origin = (int(placed.group(2)), int(placed.group(3)))

    def at(point, dy=0):
        return origin[0] + point[0], origin[1] + point[1] + dy

    tree = run(["xwininfo", "-id", str(child), "-tree"], env).stdout
    check("Parent window id" in tree and "Toolkit test host" in tree,
          "the host's window is the parent")

    differing = matches_offscreen(program, env, workdir, "initial", origin, (WIDTH, HEIGHT))
    check(differing is not None and differing <= TOLERANCE,
          "screenshot equals the offscreen rendering (%s pixels differ)" % differing)

    # A drag up by 50 pixels adds 50/200 of the range to the knob at 0.5.
    mark = len(program.lines)
    x, y = at(KNOB)
    xdotool(env, "mousemove", x, y, "mousedown", 1, "mousemove", x, y - 20,
            "mousemove", x, y - 50, "mouseup", 1)
    program.sync()
    events = program.since(mark)
    check(events[:1] == ["begin %d" % KNOB_TAG] and "end %d" % KNOB_TAG in events
          and "changed %d 0.75" % KNOB_TAG in events, "knob drag: %s" % events)
    check(program.ask("values", r"values knob=0\.75 .*") is not None, "knob value after drag")

    # The capture keeps the drag going outside the window, and the release there ends it.
    mark = len(program.lines)
    xdotool(env, "mousemove", x, y, "mousedown", 1, "mousemove", x, origin[1] - 30,
            "mousemove", x, origin[1] - 35, "mouseup", 1)
    program.sync()
    events = program.since(mark)
    check(events and events[-2:] == ["changed %d 1.00" % KNOB_TAG, "end %d" % KNOB_TAG],
          "drag beyond the window: %s" % events)

    # Wheel: one notch down, one up.
    mark = len(program.lines)
    xdotool(env, "mousemove", x, y, "click", 5)
    program.sync()
    xdotool(env, "click", 4)
    program.sync()
    events = [e for e in program.since(mark) if e.startswith("changed")]
    check(events == ["changed %d 0.99" % KNOB_TAG, "changed %d 1.00" % KNOB_TAG],
          "wheel notches: %s" % events)

    # The switch toggles on each click and shows its new state.
    mark = len(program.lines)
    sx, sy = at(SWITCH)
    xdotool(env, "mousemove", sx, sy, "click", 1)
    program.sync()
    check("changed %d 1.00" % SWITCH_TAG in program.since(mark), "switch turns on")
    differing = matches_offscreen(program, env, workdir, "switched", origin, (WIDTH, HEIGHT))
    check(differing is not None and differing <= TOLERANCE,
          "after drag and click the window shows the new values (%s pixels differ)" % differing)
    mark = len(program.lines)
    xdotool(env, "click", 1)
    program.sync()
    check("changed %d 0.00" % SWITCH_TAG in program.since(mark), "switch turns off")

    popup_checks(program, env, workdir, at)
    differing = matches_offscreen(program, env, workdir, "after-popup", origin, (WIDTH, HEIGHT))
    check(differing is not None and differing <= TOLERANCE,
          "the window is whole again after the popups (%s pixels differ)" % differing)

    # Hidden and shown again, the window paints what the server exposes.
    check(program.ask("remap", "remapped") is not None, "host window hidden and shown")
    differing = matches_offscreen(program, env, workdir, "remapped", origin, (WIDTH, HEIGHT))
    check(differing is not None and differing <= TOLERANCE,
          "exposed window repainted (%s pixels differ)" % differing)

    # Shrinking and growing resize the child window and repaint it.
    program.ask("size %d 27" % WIDTH, "sized")
    program.sync()
    size = run(["xwininfo", "-id", str(child)], env).stdout
    check(re.search(r"Width: %d\s" % WIDTH, size) and re.search(r"Height: 27\s", size),
          "shrunk window is %dx27" % WIDTH)
    differing = matches_offscreen(program, env, workdir, "shrunk", origin, (WIDTH, 27))
    check(differing is not None and differing <= TOLERANCE,
          "shrunk window equals the offscreen rendering (%s pixels differ)" % differing)
    program.ask("size %d %d" % (WIDTH, HEIGHT), "sized")
    differing = matches_offscreen(program, env, workdir, "grown", origin, (WIDTH, HEIGHT))
    check(differing is not None and differing <= TOLERANCE,
          "grown window is repainted whole (%s pixels differ)" % differing)

    # The host destroys its window (and ours with it) before it closes the frame.
    check(program.ask("destroyhost", "host destroyed") is not None, "host window destroyed")
    xdotool(env, "mousemove", x, y, "click", 1)
    program.sync()
    program.send("quit")
    returncode, errors = program.finish()
    check(returncode == 0 and "bye" in program.lines and errors == "",
          "frame closed after its host window went: exit %s, stderr %r" % (returncode, errors))


def popup_checks(program, env, workdir, at):
    mx, my = at(MENU)

    # A click opens the menu below the control; a click on an entry chooses it.
    mark = len(program.lines)
    xdotool(env, "mousemove", mx, my, "click", 1)
    popup = find_popup(env)
    check(popup is not None, "the option menu opens a popup")
    if not popup:
        return
    left, top, width, height = popup
    below = at(MENU_RECT[:2], MENU_RECT[3] - MENU_RECT[1])
    check((left, top) == below and width >= MENU_RECT[2] - MENU_RECT[0],
          "popup %s right below its control at %s" % (popup, below))
    time.sleep(0.2)
    screenshot(env, os.path.join(workdir, "popup.png"),
               "%dx%d+%d+%d" % (width + 200, height + 120, left - 200, top - 100))
    row = (height - 2) / 4.0
    entry_y = int(top + 1 + 2.5 * row)
    xdotool(env, "mousemove", left + width // 2, entry_y)
    time.sleep(0.2)
    screenshot(env, os.path.join(workdir, "popup-highlight.png"),
               "%dx%d+%d+%d" % (width + 20, height + 20, left - 10, top - 10))
    xdotool(env, "click", 1)
    program.sync()
    events = program.since(mark)
    check("changed %d 2.00" % MENU_TAG in events and events[-1] == "end %d" % MENU_TAG,
          "choosing the third entry: %s" % events)
    check(find_popup_gone(env), "the popup is gone after the choice")

    # Escape and a click elsewhere dismiss it without a change.
    for how, action in (("Escape", ("key", "Escape")),
                        ("a click outside", ("mousemove", 900, 700, "click", 1))):
        mark = len(program.lines)
        xdotool(env, "mousemove", mx, my, "click", 1)
        if not find_popup(env):
            check(False, "the popup opens again")
            continue
        xdotool(env, *action)
        program.sync()
        events = program.since(mark)
        check(not any(e.startswith("changed") for e in events) and find_popup_gone(env),
              "%s dismisses the popup: %s" % (how, events))
    check(program.ask("values", r"values .* menu=2\.00") is not None, "menu keeps its choice")

    # Press on the control, drag onto an entry, release there: that entry.
    mark = len(program.lines)
    xdotool(env, "mousemove", mx, my, "mousedown", 1)
    popup = find_popup(env)
    if popup:
        left, top, width, height = popup
        row = (height - 2) / 4.0
        xdotool(env, "mousemove", left + 20, int(top + 1 + 2.5 * row),
                "mousemove", left + 20, int(top + 1 + 3.5 * row), "mouseup", 1)
    program.sync()
    events = program.since(mark)
    check("changed %d 3.00" % MENU_TAG in events, "press, drag and release chooses: %s" % events)

    # The keyboard: Down twice from nothing highlighted, then Return, gives the second entry.
    mark = len(program.lines)
    xdotool(env, "mousemove", mx, my, "click", 1)
    if find_popup(env):
        xdotool(env, "key", "Down", "Down", "Return")
    program.sync()
    events = program.since(mark)
    check("changed %d 1.00" % MENU_TAG in events, "arrows and Return choose: %s" % events)
    check(find_popup_gone(env), "no popup left open")


def find_popup_gone(env):
    deadline = time.time() + TIMEOUT
    while time.time() < deadline:
        if not run(["xdotool", "search", "--name", "^Popup menu$"], env).stdout.split():
            return True
        time.sleep(0.05)
    return False


if __name__ == "__main__":
    sys.exit(main())
