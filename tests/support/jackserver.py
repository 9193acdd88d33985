"""A private JACK server with the dummy driver, for tests that need a real MIDI receiver.

Always stopped with SIGTERM and reaped: a JACK 2 server that is killed keeps one of the eight
slots of its shared-memory registry, and new servers then fail to start."""

import os
import shutil
import signal
import subprocess
import time


def available():
    return bool(shutil.which("jackd") and shutil.which("jack_lsp"))


class JackServer:
    def __init__(self, name, env, period=256):
        """Starts server `name` with `period` frames per cycle; `env` gets JACK_DEFAULT_SERVER
        pointing at it."""
        self.name = name
        self.env = env
        env["JACK_DEFAULT_SERVER"] = name
        env["JACK_NO_AUDIO_RESERVATION"] = "1"
        # Synchronous (-S): on a loaded machine a late client delays the cycle instead of
        # losing its MIDI in an xrun.
        self.process = subprocess.Popen(
            ["jackd", "-S", "-r", "-n", name, "-d", "dummy", "-r", "48000", "-p", str(period)],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 15
        while time.time() < deadline:
            if self.process.poll() is not None:
                break
            if subprocess.run(["jack_lsp"], env=env, capture_output=True).returncode == 0:
                return
            time.sleep(0.1)
        self.stop()
        raise RuntimeError(f"the JACK server {name} did not start")

    def stop(self):
        if self.process.poll() is not None:
            return
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            print("warning: jackd did not stop within 30 s of SIGTERM", flush=True)


class Listener:
    """`qrhost listen`: a JACK MIDI input port NAME:in that writes what arrives to a file."""

    def __init__(self, qrhost, name, env, folder, seconds=600):
        self.name = name
        self.path = os.path.join(folder, name + ".log")
        self.file = open(self.path, "w")
        self.process = subprocess.Popen([qrhost, "listen", str(seconds), name], env=env,
                                        stdout=self.file, stderr=subprocess.STDOUT)
        deadline = time.time() + 15
        while time.time() < deadline and not self.lines():
            if self.process.poll() is not None:
                raise RuntimeError(f"receiver {name} did not start: {self.text()}")
            time.sleep(0.05)

    def text(self):
        with open(self.path) as log:
            return log.read()

    def lines(self):
        return self.text().splitlines()

    def messages(self):
        """Each message received so far as a list of bytes."""
        return [[int(byte, 16) for byte in line.split()] for line in self.lines()[1:]]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.file.close()
