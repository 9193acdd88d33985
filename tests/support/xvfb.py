"""A private X server for window tests, on a display number it picks itself."""

import os
import re
import select
import subprocess
import time


class Xvfb:
    def __init__(self, timeout=10.0):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.time() + timeout
        while not number.endswith(b"\n") and time.time() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        stop_process(self.process)


def stop_process(process):
    """SIGTERM, then SIGKILL if it does not go within five seconds; always reaped."""
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def window_geometry(window, env):
    """(absolute x, absolute y, width, height) of an X window as `xwininfo` reports it, or
    None when it does not (the window is gone)."""
    text = subprocess.run(["xwininfo", "-id", str(window)], env=env, capture_output=True,
                          text=True, timeout=30).stdout
    values = dict(re.findall(r"(Absolute upper-left [XY]|Width|Height):\s+(-?\d+)", text))
    if len(values) != 4:
        return None
    return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
            int(values["Width"]), int(values["Height"]))
