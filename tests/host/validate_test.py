#!/usr/bin/env python3
"""`qrhost validate --quick` on the shipped plug-in, with a private JACK server (dummy driver)
so that the MIDI checks have a receiver. Without jackd the validator runs anyway and must
skip exactly the checks that need a receiver. The server is always stopped with SIGTERM and
reaped: a JACK 2 server that is killed keeps one of its eight registry slots.

The checks listed in validator-expected-failures.txt (next to this script) are known to fail on
the plug-in for now: they run with --expect-fail and do not fail the test. With jackd the
checks that bring a JACK server of their own may not skip, and with a display (DISPLAY set)
the window checks may not either.

usage: validate_test.py <qrhost> <plug-in file> [extra validate arguments]
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jackserver  # noqa: E402

SERVER = "qrvalidatetest"
MIDI_CHECKS = ("automation MIDI", "parameters from 4 threads", "hostile values")
# Checks with a MIDI lab of the validator's own (a private JACK server it starts itself).
LAB_CHECKS = ("instances on 4 threads", "two instances on one device",
              "device numbers per instance", "churn: device gone and back",
              "churn: device back after a failed open", "churn: server stopped and continued",
              "churn: server killed and restarted", "stall: device chosen meanwhile",
              "stall: slow device", "stall: MIDI server stopped")
WINDOW_CHECKS = ("size requests", "window move after host change", "host echo",
                 "windows on 4 threads", "unload after windows")
EXPECTED_FAILURES = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                 "validator-expected-failures.txt")


def expected_failures():
    """The names listed in the expected-failures file, comma-separated."""
    with open(EXPECTED_FAILURES) as listing:
        names = [line.strip() for line in listing]
    return ",".join(name for name in names if name and not name.startswith("#"))


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    qrhost, plugin = (os.path.abspath(a) for a in sys.argv[1:3])
    extra = (sys.argv[3:] or ["--quick"]) + ["--expect-fail=" + expected_failures()]
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
    # "OUTCOME NAME: figures"; names may hold a colon themselves.
    lines = {}
    for line in run.stdout.splitlines():
        outcome, _, rest = line.partition(" ")
        if outcome not in ("PASS", "FAIL", "SKIP", "XFAIL"):
            continue
        for name in MIDI_CHECKS + LAB_CHECKS + WINDOW_CHECKS:
            if rest.strip().startswith(name + ": "):
                lines[name] = outcome
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
        for name in LAB_CHECKS:
            if lines.get(name, "SKIP") == "SKIP":
                failures.append(f"{name}: {lines.get(name, 'missing')} with jackd installed")
    if os.environ.get("DISPLAY"):
        for name in WINDOW_CHECKS:
            if lines.get(name, "SKIP") == "SKIP":
                failures.append(f"{name}: {lines.get(name, 'missing')} with a display")
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
