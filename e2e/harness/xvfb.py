"""A private X server for one test module."""

import os
import random
import select
import subprocess
import time

# Display numbers tried, away from the low numbers people start by hand.
FIRST_DISPLAY = 150
LAST_DISPLAY = 999


class Xvfb:
    """Starts Xvfb on a free display number, so that modules running in
    parallel never share a screen. Xvfb itself refuses a number whose lock
    file exists; a refused number is simply followed by another."""

    def __init__(self, width=1280, height=1024):
        self.width = width
        self.height = height
        self.process = None
        self.display = ""

    def start(self, attempts=20):
        numbers = list(range(FIRST_DISPLAY, LAST_DISPLAY + 1))
        random.shuffle(numbers)
        for number in numbers[:attempts]:
            if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
                continue
            if self._try(number):
                self.display = f":{number}"
                return self.display
        raise RuntimeError("no free X display found for Xvfb")

    def _try(self, number, timeout=15.0):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen", "0",
                 f"{self.width}x{self.height}x24", "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            os.close(write_end)
            write_end = -1
            # Xvfb writes the display number once it accepts connections.
            answer = b""
            deadline = time.monotonic() + timeout
            while not answer.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    break
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                answer += chunk
            if answer.strip() == str(number).encode():
                return True
            self.stop()
            return False
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
