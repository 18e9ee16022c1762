"""Time on a CPU of a Windows program's Unix process under Wine, sampled
from /proc while the program runs."""

import os
import re
import threading
import time

SAMPLE_S = 0.01


def program_name(argv0):
    """The file name Wine shows for a process: argv[0] is the Windows path
    (C:\\x\\tavrelo.exe) or the Unix path it was started by."""
    return re.split(r"[\\/]", argv0)[-1].lower()


def thread_cpu_ns(pid):
    """Time on a CPU of the live threads of PID, summed (ns)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as handle:
                total += int(handle.read().split()[0])
        except OSError:
            pass  # the thread ended in between
    return total


class CpuSampler(threading.Thread):
    """Finds the process of program NAME started in the prefix after the
    sampler was made (Wine names it by its program's path in argv[0]; older
    processes are never taken, so an earlier run's program that has not been
    reaped yet is not confused with this one) and samples its threads' CPU
    time every SAMPLE_S until it is reaped. The figure is the largest sum
    seen: a thread that ended takes its share out of later sums."""

    def __init__(self, prefix_path, name):
        super().__init__(daemon=True)
        self.prefix_env = b"WINEPREFIX=" + os.fsencode(str(prefix_path))
        self.name = name.lower()
        self.known = {entry for entry in os.listdir("/proc") if entry.isdigit()}
        self.pid = None
        self.cpu_ns = 0
        self.samples = 0
        self.ended = False
        self.stop_event = threading.Event()

    def find(self):
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or entry in self.known:
                continue
            try:
                with open(f"/proc/{entry}/environ", "rb") as handle:
                    environment = handle.read()
                with open(f"/proc/{entry}/cmdline", "rb") as handle:
                    argv0 = handle.read().split(b"\0", 1)[0].decode(errors="replace")
            except OSError:
                continue  # gone, or caught in its exec: looked at again
            if not environment:
                continue  # in its exec, the new environment not there yet
            if self.prefix_env not in environment.split(b"\0"):
                self.known.add(entry)
            elif program_name(argv0) == self.name:
                self.pid = int(entry)
                return
            # Ours but not named yet (still the loader, or a fork on its way
            # to exec): looked at again.

    def run(self):
        while True:
            stopping = self.stop_event.is_set()
            if self.pid is None and not stopping:
                self.find()
            if self.pid is not None and not self.ended:
                try:
                    self.cpu_ns = max(self.cpu_ns, thread_cpu_ns(self.pid))
                    self.samples += 1
                except OSError:
                    self.ended = True  # reaped: the last sample stands
            if stopping:
                return
            time.sleep(SAMPLE_S)

    def stop(self):
        self.stop_event.set()
        self.join(10)
