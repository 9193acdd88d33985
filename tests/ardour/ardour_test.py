#!/usr/bin/env python3
"""The Linux plug-in inside a real host: Ardour 7, its GUI on a private Xvfb, over JACK.

1. A private JACK server (dummy driver, a name of its own) with our MIDI receiver as its only
   MIDI input, so the plug-in's device 0 is the receiver.
2. Ardour's scanner indexes the plug-in (copied into a folder of its own), and Ardour's
   headless Lua tool makes a session: one audio track holding the plug-in, device 0 chosen,
   some gains and a link set.
3. The session file is told to show the plug-in's window, and Ardour opens the session under
   Xvfb with its JACK backend (config in a private HOME keeps first-run dialogs away).

Checks: the plug-in's window shows embedded in Ardour's, at the size the plug-in reports, with
the pixels of our offscreen rendering of the same state; the restored gains reach the
receiver; knob 1 (restored to 0.8) dragged to its floor in one move reaches the receiver;
"Minimize!" and "Maximize!" clicked with xdotool resize the plug-in's window and Ardour's
window around it follows.

Exits 77 (skipped) when Ardour, Xvfb, the X tools, ImageMagick or JACK are missing, or when the
plug-in sends to an ALSA sequencer (then JACK ports are not its devices).

usage: ardour_test.py <plug-in .so> <qrhost> <work directory>
"""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jackserver  # noqa: E402
from xvfb import Xvfb, stop_process, window_geometry  # noqa: E402

SKIP = 77
TITLE = "Quorvel Remote Control Demo"
SCANNER = "/usr/lib/ardour7/ardour-vst-scanner"
WIDTH, FIRST, FULL, SHRUNK = 573, 424, 394, 27
TOLERANCE = 50  # pixels; window and offscreen picture come from the same rasteriser
MINIMIZE = (472, 12)

# The session's state: parameter index -> value. Device 0 is set to 0.01: the host skips a
# value its control already holds, and 0.01 still means device 0.
GAINS = {2: 0.8, 3: 0.25, 8: 0.5, 25: 1.0, 31: 0.6}
LINKS = {52: 1.0}

failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        failures.append(message)
    return condition


def wait_for(predicate, timeout, pause=0.2):
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value or time.time() > deadline:
            return value
        time.sleep(pause)


def run(command, env, timeout=60, **kwargs):
    return subprocess.run(command, env=env, capture_output=True, text=True, timeout=timeout,
                          **kwargs)


def last_values(receiver, since):
    """The last value of each (status, controller) the receiver got after message `since`."""
    values = {}
    for message in receiver.messages()[since:]:
        if len(message) == 3:
            values[(message[0], message[1])] = message[2]
    return values


def expected_messages(gains):
    """Every gain channel's Control Change as (status, controller) -> value."""
    expected = {}
    for channel in range(48):
        gain = gains.get(2 + channel, 0.0)
        expected[(0xB1 + channel // 8, 24 + channel % 8)] = int(gain * 127)
    return expected


def lua_script(session_dir):
    settings = ["ARDOUR.LuaAPI.set_processor_param(p, 0, 0.01)"]
    settings += ["ARDOUR.LuaAPI.set_processor_param(p, %d, %r)" % item
                 for item in sorted({**GAINS, **LINKS}.items())]
    return """
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session("%s", "remote", 48000)
assert(s, "no session")
local tracks = s:new_audio_track(2, 2, nil, 1, "Remote", ARDOUR.PresentationInfo.max_order,
                                 ARDOUR.TrackMode.Normal, true)
local t = tracks:front()
local p = ARDOUR.LuaAPI.new_plugin(s, "%s", ARDOUR.PluginType.LXVST, "")
assert(not p:isnil(), "plug-in not found")
assert(t:add_processor_by_index(p, 0, nil, true) == 0, "plug-in not added")
%s
print("ids", t:to_stateful():id():to_s(), p:to_stateful():id():to_s())
s:save_state("", false, false, false, false, false)
close_session()
""" % (session_dir, TITLE, "\n".join(settings))


def prepare_home(home):
    config = os.path.join(home, ".config", "ardour7")
    os.makedirs(config, exist_ok=True)
    # JACK as the backend, started without asking; no first-run wizard, no memory warning.
    with open(os.path.join(config, "config"), "w") as out:
        out.write("""<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="try-autostart-engine" value="1"/>
  </Config>
  <Extra>
    <AudioMIDISetup>
      <EngineStates>
        <State backend="JACK" driver="" device="" input-device="" output-device=""
               sample-rate="48000" buffer-size="1024" n-periods="2" input-latency="0"
               output-latency="0" input-channels="0" output-channels="0" active="1"
               use-buffered-io="0" midi-option="" lm-input="" lm-output=""/>
      </EngineStates>
    </AudioMIDISetup>
  </Extra>
</Ardour>
""")
    open(os.path.join(config, ".a7"), "w").close()
    with open(os.path.join(config, "instant.xml"), "w") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<instant>\n  <no-memory-warning/>\n'
                  '</instant>\n')


def show_plugin_window(session_file, route, processor):
    """The session opens with the plug-in's own window shown, on whatever engine runs, at the
    size Ardour keeps for it (the plug-in's 394 rows and 40 of Ardour's own)."""
    with open(session_file) as text:
        xml = text.read()
    xml = re.sub(r"\s*<EngineHints[^>]*/>", "", xml)
    window = ('<Extra><UI><Window name="P-%s-%s" visible="1" x-off="0" y-off="0" '
              'x-size="%d" y-size="%d" custom-ui="1"/></UI></Extra>\n'
              % (route, processor, WIDTH, FULL + 40))
    if "<Extra>" in xml or "</Session>" not in xml:
        return False
    with open(session_file, "w") as out:
        out.write(xml.replace("</Session>", window + "</Session>"))
    return True


class Tree:
    """Windows under one window, from `xwininfo -tree`: id -> (parent, width, height, x, y)."""

    LINE = re.compile(r"^(\s*)(0x[0-9a-f]+) .*?\s(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+)\s*$")

    def __init__(self, env, top):
        self.windows = {}
        stack = []
        for line in run(["xwininfo", "-tree", "-id", top], env).stdout.splitlines():
            found = self.LINE.match(line)
            if not found:
                continue
            indent = len(found.group(1))
            while stack and stack[-1][0] >= indent:
                stack.pop()
            parent = stack[-1][1] if stack else top
            wid = found.group(2)
            self.windows[wid] = (parent, int(found.group(3)), int(found.group(4)),
                                 int(found.group(5)), int(found.group(6)))
            stack.append((indent, wid))

    def leaves(self):
        parents = {info[0] for info in self.windows.values()}
        return [wid for wid in self.windows if wid not in parents]


def geometry(env, wid):
    """(width, height, absolute x, absolute y) of one window, or None."""
    found = window_geometry(wid, env)
    return found and (found[2], found[3], found[0], found[1])


def find_windows(env):
    """Ardour's window of the plug-in, ours inside it (the innermost window as wide as ours)
    and the window of Ardour's that holds ours, or None."""
    found = run(["xdotool", "search", "--name", TITLE], env).stdout.split()
    for top in found:
        top = "0x%x" % int(top)
        tree = Tree(env, top)
        ours = [w for w in tree.leaves() if tree.windows[w][1] == WIDTH]
        if ours:
            return top, ours[0], tree.windows[ours[0]][0]
    return None


def matches_offscreen(env, work, name, qrhost, ours, steps, height):
    """Screenshot of our window against the offscreen picture of the same state, retried
    while the window may still be painting; the number of differing pixels."""
    reference = os.path.join(work, name + "-offscreen.png")
    opaque = os.path.join(work, name + "-offscreen-rgb.png")
    shot = os.path.join(work, name + "-ardour.png")
    result = run([qrhost, "render", reference, *steps], env)
    if result.returncode != 0:
        print(result.stdout + result.stderr)
        return None
    run(["convert", reference, "-background", "black", "-alpha", "remove", "-alpha", "off",
         opaque], env)
    differing = None
    for _ in range(15):
        place = geometry(env, ours)
        if place and place[:2] == (WIDTH, height):
            run(["import", "-window", "root", "-crop",
                 "%dx%d+%d+%d" % (WIDTH, height, place[2], place[3]), "+repage", shot], env)
            compared = run(["compare", "-metric", "AE", shot, opaque,
                            os.path.join(work, name + "-difference.png")], env)
            try:
                differing = int(float(compared.stderr.split()[0]))
            except (IndexError, ValueError):
                differing = None
            if differing is not None and differing <= TOLERANCE:
                break
        time.sleep(0.3)
    return differing


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    plugin, qrhost, work = (os.path.abspath(a) for a in sys.argv[1:])
    for tool in ("ardour", "ardour7-lua", "Xvfb", "xdotool", "xwininfo", "import", "convert",
                 "compare", "jackd", "jack_lsp"):
        if not shutil.which(tool):
            print("skipped: %s is not installed" % tool)
            return SKIP
    if not os.access(SCANNER, os.X_OK):
        print("skipped: Ardour's plug-in scanner %s is missing" % SCANNER)
        return SKIP
    started = time.time()
    shutil.rmtree(work, ignore_errors=True)
    # Ardour opens a session folder by the session file named like the folder.
    home, folder, session_dir = (os.path.join(work, d) for d in ("home", "vst", "remote"))
    os.makedirs(home)
    os.makedirs(folder)
    # A copy with an old time stamp: the scanner's cache is ignored for files newer than it.
    shutil.copy(plugin, folder)
    os.utime(os.path.join(folder, os.path.basename(plugin)), (946684800, 946684800))
    prepare_home(home)

    server = "qrardour%d" % os.getpid()
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(HOME=home, LXVST_PATH=folder, LANG="C", LC_ALL="C")
    jackd = receiver = ardour = xvfb = None
    try:
        try:
            # The period Ardour's engine settings below ask for.
            jackd = jackserver.JackServer(server, env, period=1024)
            receiver = jackserver.Listener(qrhost, "qr-ardour-rx", env, work)
        except RuntimeError as error:
            check(False, str(error))
            return 1
        print("JACK server %s with the dummy driver and our MIDI receiver are up" % server)
        devices = run([qrhost, "devices"], env).stdout
        if not re.search(r"^\s*\d+\s+qr-ardour-rx:in\s*$", devices, re.M):
            print("skipped: the plug-in does not list JACK ports here (an ALSA sequencer?):\n"
                  + devices)
            return SKIP
        check(re.search(r"^\s*0\s+qr-ardour-rx:in\s*$", devices, re.M) is not None,
              "the receiver is the plug-in's device 0")

        scan = run([SCANNER, "-f", os.path.join(folder, os.path.basename(plugin))],
                   dict(env, LD_LIBRARY_PATH=os.path.dirname(SCANNER)))
        if not check("Found Plugin" in scan.stdout + scan.stderr, "Ardour's scanner finds it"):
            print(scan.stdout + scan.stderr)
            return 1

        script = os.path.join(work, "make_session.lua")
        with open(script, "w") as out:
            out.write(lua_script(session_dir))
        made = run(["ardour7-lua", script], env, timeout=180)
        ids = re.search(r"^ids (\d+) (\d+)$", made.stdout, re.M)
        session_file = os.path.join(session_dir, "remote.ardour")
        if not check(ids is not None and os.path.exists(session_file),
                     "the headless Lua tool made a session with the plug-in on a track"):
            print(made.stdout + made.stderr)
            return 1
        if not check(show_plugin_window(session_file, *ids.groups()),
                     "the session is set to show the plug-in's window"):
            return 1
        print("session made in %.1f s" % (time.time() - started), flush=True)

        xvfb = Xvfb()
        env["DISPLAY"] = xvfb.display
        mark = len(receiver.messages())
        ardour = subprocess.Popen(["ardour", session_dir], env=env,
                                  stdout=open(os.path.join(work, "ardour.txt"), "w"),
                                  stderr=subprocess.STDOUT)
        windows = wait_for(lambda: ardour.poll() is None and find_windows(env), 120, 0.5)
        if not check(bool(windows), "Ardour shows the plug-in's window with ours embedded"):
            run(["import", "-window", "root", os.path.join(work, "screen.png")], env)
            return 1
        top, ours, holder = windows
        print("Ardour up in %.1f s" % (time.time() - started), flush=True)
        run(["xdotool", "windowraise", str(int(top, 16))], env)

        # The window at the size the plug-in reports once open, and Ardour's around it.
        def sizes():
            return geometry(env, ours), geometry(env, holder), geometry(env, top)

        # Ardour's window holds ours with a few rows to spare, never with the band of 30 rows
        # a window sized from the plug-in's first answer would show.
        def settled(height):
            current = sizes()
            if all(current) and current[0][:2] == (WIDTH, height) and \
                    current[1][0] == WIDTH and 0 <= current[1][1] - height < FIRST - FULL:
                return current
            return None

        full = wait_for(lambda: settled(FULL), 15)
        check(full is not None, "open: ours is %dx%d, Ardour's window fits it: %s"
              % (WIDTH, FULL, full or sizes()))

        expected = expected_messages(GAINS)
        restored = wait_for(lambda: last_values(receiver, mark) == expected, 30)
        check(restored, "all 48 restored gains reach the receiver (%d of 48 as expected)"
              % sum(last_values(receiver, mark).get(k) == v for k, v in expected.items()))

        state = ["%d=%r" % item for item in sorted({**GAINS, **LINKS}.items())] + ["0=0"]
        differing = matches_offscreen(env, work, "page1", qrhost, ours, state, FULL)
        check(differing is not None and differing <= TOLERANCE,
              "our window in Ardour equals the offscreen rendering (%s pixels differ)"
              % differing)

        def xdo(*arguments):
            run(["xdotool", *map(str, arguments)], env)

        # Knob 1, restored to 0.8, dragged to its floor in one mouse move.
        place = geometry(env, ours)
        x, y = place[2] + 40, place[3] + 77
        mark = len(receiver.messages())
        xdo("mousemove", x, y, "mousedown", 1, "mousemove", x, y + 180, "mouseup", 1)
        check(wait_for(lambda: last_values(receiver, mark).get((0xB1, 24)) == 0, 10),
              "knob 1 dragged from 0.8 to its floor: the receiver gets 0")

        # "Minimize!" and "Maximize!": Ardour's window follows ours both ways.
        before = sizes()
        xdo("mousemove", place[2] + MINIMIZE[0], place[3] + MINIMIZE[1], "click", 1)
        shrunk = wait_for(lambda: settled(SHRUNK), 15)
        check(shrunk is not None, "shrunk: ours is %dx%d, Ardour's window fits it: %s"
              % (WIDTH, SHRUNK, shrunk or sizes()))
        if shrunk and before[2]:
            check(before[2][1] - shrunk[2][1] == FULL - SHRUNK,
                  "Ardour's plug-in window shrinks by %d rows (%d to %d)"
                  % (FULL - SHRUNK, before[2][1], shrunk[2][1]))
        state_shrunk = state + ["click:%d,%d" % MINIMIZE]
        differing = matches_offscreen(env, work, "shrunk", qrhost, ours, state_shrunk, SHRUNK)
        check(differing is not None and differing <= TOLERANCE,
              "the shrunk window equals the offscreen rendering (%s pixels differ)" % differing)
        xdo("click", 1)
        grown = wait_for(lambda: settled(FULL), 15)
        check(grown is not None, "grown again: ours is %dx%d, Ardour's window fits it: %s"
              % (WIDTH, FULL, grown or sizes()))
        if grown and before[2]:
            check(grown[2][1] == before[2][1], "Ardour's plug-in window is back to %d rows (%d)"
                  % (before[2][1], grown[2][1]))
    finally:
        stop_process(ardour)
        if receiver:
            receiver.stop()
        if jackd:
            jackd.stop()
        if xvfb:
            xvfb.stop()
    print("%s in %.1f s; files in %s" % ("%d check(s) failed" % len(failures) if failures
                                          else "all checks passed", time.time() - started, work))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
