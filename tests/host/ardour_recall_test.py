#!/usr/bin/env python3
"""A project's device is recalled by name in a real host: Ardour 7's headless Lua session tool
with its dummy audio backend, our plug-in on a track, and a JACK server with two receivers.

The session is made with receiver B as the only device (number 0), so the project saves the
number 0 beside B's name. It is reopened after receiver A came up before B: number 0 is now A.
The plug-in must send the project's 48 gains to B and nothing at all to A. The host sets the
saved parameters, the stale number among them, as well as giving back the state data.

usage: ardour_recall_test.py <qrhost> <plug-in file> <work folder>
Exit 77 where Ardour or JACK are not installed."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jackserver  # noqa: E402

SERVER = "qrardourrecall"
SCANNER = "/usr/lib/ardour7/ardour-vst-scanner"
# Parameters the project sets: index, value.
GAINS = {2: 1.0, 7: 0.5, 30: 0.25, 49: 0.75}

MAKE = """
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session("{session}", "recall", 48000)
assert(s, "no session")
local tracks = s:new_audio_track(2, 2, nil, 1, "Desk", ARDOUR.PresentationInfo.max_order,
                                 ARDOUR.TrackMode.Normal, true)
local plugin = ARDOUR.LuaAPI.new_plugin(s, "Quorvel Remote Control Demo",
                                        ARDOUR.PluginType.LXVST, "")
assert(not plugin:isnil(), "the plug-in is not found")
tracks:front():add_processor_by_index(plugin, 0, nil, true)
-- 0.0 is the value the control holds already, which the host would skip; 0.01 is device 0 too.
ARDOUR.LuaAPI.set_processor_param(plugin, 0, 0.01)
{gains}
ARDOUR.LuaAPI.usleep(500000)
s:save_state("", false, false, false, false, false)
close_session()
print("made")
"""

LOAD = """
AudioEngine:set_backend("None (Dummy)", "", "")
local s = load_session("{session}", "recall")
assert(s, "the session does not load")
ARDOUR.LuaAPI.usleep(1500000)
close_session()
print("reopened")
"""


def run_lua(script, env, folder, name):
    path = os.path.join(folder, name)
    with open(path, "w") as file:
        file.write(script)
    run = subprocess.run(["ardour7-lua", path], env=env, capture_output=True, text=True,
                         timeout=180)
    if run.returncode != 0 or ("made" not in run.stdout and "reopened" not in run.stdout):
        raise RuntimeError(f"ardour7-lua {name} failed ({run.returncode}):\n"
                           f"{run.stdout[-2000:]}\n{run.stderr[-2000:]}")


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    qrhost, plugin = (os.path.abspath(a) for a in sys.argv[1:3])
    if not (shutil.which("ardour7-lua") and os.path.exists(SCANNER)):
        print("SKIP Ardour 7 is not installed")
        return 77
    if not jackserver.available():
        print("SKIP jackd is not installed")
        return 77
    os.makedirs(sys.argv[3], exist_ok=True)
    work = tempfile.mkdtemp(prefix="ardour-recall-", dir=os.path.abspath(sys.argv[3]))
    home = os.path.join(work, "home")
    vst = os.path.join(work, "vst")
    os.makedirs(home)
    os.makedirs(vst)
    shutil.copy(plugin, vst)
    # Ardour ignores its scan cache for a file newer than the cache within the same second.
    os.utime(os.path.join(vst, os.path.basename(plugin)), (946684800, 946684800))
    env = {key: value for key, value in os.environ.items() if not key.startswith("XDG_")}
    env.update(HOME=home, LXVST_PATH=vst)
    session = os.path.join(work, "session")

    server = jackserver.JackServer(SERVER, env)
    receivers = []
    failures = []
    try:
        scan = subprocess.run([SCANNER, "-f", os.path.join(vst, os.path.basename(plugin))],
                              env=dict(env, LD_LIBRARY_PATH=os.path.dirname(SCANNER)),
                              capture_output=True, text=True, timeout=120)
        if "Quorvel Remote Control Demo" not in scan.stdout + scan.stderr:
            raise RuntimeError("Ardour's scanner did not find the plug-in:\n" + scan.stdout
                               + scan.stderr)

        first_b = jackserver.Listener(qrhost, "recvB", env, work)
        receivers.append(first_b)
        gains = "\n".join(f"ARDOUR.LuaAPI.set_processor_param(plugin, {index}, {value})"
                          for index, value in GAINS.items())
        run_lua(MAKE.format(session=session, gains=gains), env, work, "make.lua")
        first_b.stop()
        made = first_b.messages()
        print(f"session made with receiver B as device 0: B received {len(made)} messages")
        if not made:
            failures.append("the session's gains never reached B while it was made")

        receiver_a = jackserver.Listener(qrhost, "recvA", env, work)
        receiver_b = jackserver.Listener(qrhost, "recvB", env, work)
        receivers += [receiver_a, receiver_b]
        devices = subprocess.run([qrhost, "devices"], env=env, capture_output=True, text=True)
        print(devices.stdout.strip())
        run_lua(LOAD.format(session=session), env, work, "load.lua")
        time.sleep(0.5)
        to_a, to_b = receiver_a.messages(), receiver_b.messages()
        print(f"reopened with A before B: A received {len(to_a)}, B received {len(to_b)}")
        if to_a:
            failures.append(f"receiver A, never chosen, received {to_a[:5]}")
        last = {}
        for message in to_b:
            if len(message) == 3 and 0xB1 <= message[0] <= 0xB6:
                last[(message[0] - 0xB1) * 8 + message[1] - 24] = message[2]
        expected = {index - 2: int(GAINS.get(index, 0.0) * 127) for index in range(2, 50)}
        if last != expected:
            failures.append(f"B does not hold the project's gains: {last} != {expected}")
    except (RuntimeError, subprocess.TimeoutExpired) as error:
        failures.append(str(error))
    finally:
        for receiver in receivers:
            receiver.stop()
        server.stop()
    for failure in failures:
        print("FAIL " + failure)
    if not failures:
        print("ok   the reopened project sent its 48 gains to B and nothing to A")
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
