#!/usr/bin/env python3
"""Runs a command on a private Xvfb (DISPLAY set to it) and exits with the command's status;
77 (skipped) when Xvfb is not installed. With --optional the command then runs without a
display instead (and skips on its own what needs one).

usage: with_xvfb.py [--optional] COMMAND [ARGUMENT...]
"""

import os
import shutil
import subprocess
import sys

from xvfb import Xvfb

SKIP = 77


def run(command, env):
    status = subprocess.run(command, env=env).returncode
    if status < 0:
        print("%s was killed by signal %d" % (command[0], -status))
        return 1
    return status


def main():
    arguments = sys.argv[1:]
    optional = bool(arguments) and arguments[0] == "--optional"
    if optional:
        arguments = arguments[1:]
    if not arguments:
        print(__doc__)
        return 2
    if not shutil.which("Xvfb"):
        if not optional:
            print("skipped: Xvfb is not installed")
            return SKIP
        print("Xvfb is not installed: what needs a display is skipped", flush=True)
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        return run(arguments, env)
    xvfb = Xvfb()
    try:
        return run(arguments, dict(os.environ, DISPLAY=xvfb.display))
    finally:
        xvfb.stop()


if __name__ == "__main__":
    sys.exit(main())
