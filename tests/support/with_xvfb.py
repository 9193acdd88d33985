#!/usr/bin/env python3
"""Runs a command on a private Xvfb (DISPLAY set to it) and exits with the command's status;
77 (skipped) when Xvfb is not installed.

usage: with_xvfb.py COMMAND [ARGUMENT...]
"""

import os
import shutil
import subprocess
import sys

from xvfb import Xvfb

SKIP = 77


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    if not shutil.which("Xvfb"):
        print("skipped: Xvfb is not installed")
        return SKIP
    xvfb = Xvfb()
    try:
        status = subprocess.run(sys.argv[1:], env=dict(os.environ, DISPLAY=xvfb.display)).returncode
        if status < 0:
            print("%s was killed by signal %d" % (sys.argv[1], -status))
            return 1
        return status
    finally:
        xvfb.stop()


if __name__ == "__main__":
    sys.exit(main())
