"""Time on a CPU and peak resident memory of a Windows program's Unix
process under Wine, sampled from /proc while the program runs."""

import ntpath
import os
import threading
from pathlib import Path

SAMPLE_S = 0.01
PF_FORKNOEXEC = 0x40  # in /proc/PID/stat's flags: forked, not exec'd yet


def i386_emulator():
    """The emulator that runs 32-bit programs here (scripts/emulate-i386 registers it), or None."""
    entry = Path("/proc/sys/fs/binfmt_misc/qemu-i386")
    lines = entry.read_text().splitlines() if entry.exists() else []
    found = [line.split(None, 1)[1] for line in lines if line.startswith("interpreter ")]
    return found[0] if lines[:1] == ["enabled"] and found else None


def thread_cpu_ns(pid):
    """Time on a CPU of the live threads of PID, summed (ns)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            total += int(Path(f"/proc/{pid}/task/{task}/schedstat").read_text().split()[0])
        except OSError:
            pass  # the thread ended in between
    return total


def peak_resident_bytes(pid):
    """VmHWM of PID, what Wine reports as its peak working set; 0 once it has ended."""
    found = [line.split()[1] for line in Path(f"/proc/{pid}/status").read_text().splitlines() if line[:6] == "VmHWM:"]
    return int(found[0]) * 1024 if found else 0


class CpuSampler(threading.Thread):
    """Finds the process of program NAME started in the prefix after the
    sampler was made (Wine names it by its program's path in argv[0]; no
    earlier run's program that is not reaped yet, nor a fork on its way to
    exec, which bears its parent's name, is taken) and samples its threads'
    CPU time and its peak resident memory every SAMPLE_S until it is reaped,
    and once more after stop(). The CPU figure is the largest sum seen: a
    thread that ended takes its share out of later sums."""

    def __init__(self, prefix_path, name, emulator=None):
        super().__init__(daemon=True)
        self.prefix_env = b"WINEPREFIX=" + os.fsencode(str(prefix_path))
        self.program = name.lower()
        # A program that runs emulated (32-bit code where the kernel refuses
        # it) is the EMULATOR's process, whose own arguments Wine cannot
        # rename: the emulator, Wine's loader, then the Windows program.
        self.emulator = os.fsencode(emulator) if emulator else None
        self.known = set(os.listdir("/proc"))
        self.pid = None
        self.cpu_ns = self.peak_bytes = 0
        self.samples = 0
        self.stopping = threading.Event()

    def find(self):
        for entry in set(os.listdir("/proc")) - self.known:
            try:
                # Read first: once a fork has exec'd, what is read after it is its own.
                stat = Path(f"/proc/{entry}/stat").read_bytes()
                environment = Path(f"/proc/{entry}/environ").read_bytes()
                argv = Path(f"/proc/{entry}/cmdline").read_bytes().split(b"\0")
            except OSError:
                continue  # gone, or caught in its exec: looked at again
            if not environment or int(stat.rsplit(b")", 1)[1].split()[6]) & PF_FORKNOEXEC:
                continue  # in its exec, or a fork not exec'd yet (its parent's argv and environment)
            if self.prefix_env not in environment.split(b"\0"):
                self.known.add(entry)
            elif ntpath.basename(os.fsdecode(self.program_argument(argv))).lower() == self.program:
                return int(entry)
            # Ours but not named yet (still the loader, or a fork on its way
            # to exec): looked at again.
        return None

    def program_argument(self, argv):
        if self.emulator and argv[0] == self.emulator:
            return argv[2] if len(argv) > 2 else b""
        return argv[0]

    def run(self):
        while True:
            stopping = self.stopping.is_set()
            if self.pid is None:
                self.pid = self.find()
            else:
                try:
                    self.cpu_ns = max(self.cpu_ns, thread_cpu_ns(self.pid))
                    self.peak_bytes = max(self.peak_bytes, peak_resident_bytes(self.pid))
                    self.samples += 1
                except OSError:
                    return  # reaped: the last sample stands
            if stopping:
                return
            self.stopping.wait(SAMPLE_S)

    def stop(self):
        self.stopping.set()
        self.join(10)
