#!/usr/bin/env python3
"""`qrhost validate --quick` on the shipped plug-in, with a private JACK server (dummy driver)
so that the MIDI checks have a receiver. Without jackd the validator runs anyway and must
skip exactly the checks that need a receiver. The server is always stopped with SIGTERM and
reaped: a JACK 2 server that is killed keeps one of its eight registry slots.

usage: validate_test.py <qrhost> <plug-in file> [extra validate arguments]
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jackserver  # noqa: E402

SERVER = "qrvalidatetest"
MIDI_CHECKS = ("automation MIDI", "parameters from 4 threads", "hostile values")


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    qrhost, plugin = (os.path.abspath(a) for a in sys.argv[1:3])
    extra = sys.argv[3:] or ["--quick"]
    env = dict(os.environ)
    jack = None
    if jackserver.available():
        try:
            jack = jackserver.JackServer(SERVER, env)
            print(f"JACK server {SERVER} is up", flush=True)
        except RuntimeError:
            print("JACK server did not start: MIDI checks skip", flush=True)
    else:
        print("jackd is missing: MIDI checks skip", flush=True)
    try:
        run = subprocess.run([qrhost, "validate", plugin, *extra], env=env, capture_output=True,
                             text=True, timeout=600)
    finally:
        if jack:
            jack.stop()
    sys.stdout.write(run.stdout)
    sys.stderr.write(run.stderr)
    lines = {line[6:].split(":")[0]: line[:4] for line in run.stdout.splitlines()
             if line[:4] in ("PASS", "FAIL", "SKIP")}
    failures = []
    if run.returncode != 0:
        failures.append(f"qrhost validate exited {run.returncode}")
    if jack is not None:
        # With a receiver, nothing that needs it may be skipped.
        for name in MIDI_CHECKS:
            if lines.get(name) != "PASS":
                failures.append(f"{name}: {lines.get(name, 'missing')} with a JACK server up")
        if "MIDI bytes unchecked" in run.stdout:
            failures.append("MIDI bytes went unchecked with a JACK server up")
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
