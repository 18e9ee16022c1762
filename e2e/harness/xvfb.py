"""A private X server for one test module."""

import os
import select
import subprocess


class Xvfb:
    """Xvfb on a display number of its own choosing: with -displayfd it takes
    the first number no other X server has locked, so modules starting
    together never share a screen, and writes that number once it accepts
    connections."""

    def __init__(self, width=1280, height=1024):
        self.screen = f"{width}x{height}x24"
        self.process = None

    def start(self, timeout=15.0):
        read_end, write_end = os.pipe()
        with os.fdopen(read_end, "rb") as answer:
            try:
                self.process = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen, "-nolisten", "tcp",
                     "-noreset"], pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
            finally:
                os.close(write_end)
            # A server that dies first closes the pipe: the line is then empty.
            number = answer.readline().strip() if select.select([answer], [], [], timeout)[0] else b""
        if not number.isdigit():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        return f":{number.decode()}"

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
