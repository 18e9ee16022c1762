"""Running tavrelo-driver.exe and reading what it and the stand-in runtime
wrote."""

import json
import ntpath
import os

from .wine import run_detached

FILETIME_PER_SECOND = 10_000_000
# ERROR_INTERNAL_ERROR from CreateProcess. Wine's NtCreateUserProcess returns
# STATUS_INTERNAL_ERROR when the new process ended during its start-up, before
# it told the server it had started, without an exit status of its own (its
# Unix process died or was killed): Wine failed to start a program, whichever
# program asked it to.
WINE_COULD_NOT_START = 1359
UNIX_EPOCH_FILETIME = 116_444_736_000_000_000  # 1970-01-01 in 100 ns since 1601-01-01


def unix_time(filetime):
    """A FILETIME stamp (Windows' system time) as seconds since 1970, the
    clock of time.time()."""
    return (filetime - UNIX_EPOCH_FILETIME) / FILETIME_PER_SECOND


class DriverResult:
    """The driver's JSON result, with shortcuts for what the tests ask most."""

    def __init__(self, data, path, stderr=b""):
        self.data = data
        self.path = path
        self.stderr = stderr  # Wine's and the driver's, with any trace channels asked for

    def __getitem__(self, key):
        return self.data[key]

    @property
    def exit_code(self):
        return self.data.get("exit_code")

    @property
    def killed(self):
        return self.data.get("killed", False)

    @property
    def boxes(self):
        return self.data.get("message_boxes", [])

    @property
    def splash(self):
        return self.data.get("splash", {})

    @property
    def children(self):
        """The processes the program started: pid, image and exit code (None
        while still running), as the driver's job saw them."""
        return self.data.get("children") or []

    @property
    def inspection(self):
        """What the driver saw of the splash; a failure if it never inspected it."""
        if self.data.get("inspection") is None:
            raise AssertionError(f"the driver never inspected the splash: {self.summary()}")
        return self.data["inspection"]

    def exit_seconds_after(self, filetime):
        """Seconds from a FILETIME stamp (e.g. a child's creation) to the
        launcher's exit, as Wine's server recorded it when it happened."""
        end = self.data.get("exit_time") or self.data["exit_seen_time"]
        return (end - filetime) / FILETIME_PER_SECOND

    def wine_fault(self):
        """Why this run failed through a fault of Wine's, not of the program
        under test, or "": the driver, or the launcher (its box says so),
        could not start a program because Wine could not."""
        texts = [str(self.data.get("start_error"))] + [box.get("text", "") for box in self.boxes]
        if any(text == str(WINE_COULD_NOT_START) or f"Error {WINE_COULD_NOT_START}:" in text for text in texts):
            return (f"A FAULT OF WINE, NOT OF THE LAUNCHER: Wine could not start a program (error "
                    f"{WINE_COULD_NOT_START}, its new process ended during its start-up, as when Wine cannot map "
                    "its shared user data at 0x7ffe0000 there: 'failed to map the shared user data: c0000018'; see "
                    "the children's exit codes and Wine's error output kept with the results)")
        return ""

    def summary(self):
        """A short text for assertion messages."""
        boxes = [box.get("text", "")[:80] for box in self.boxes]
        fault = self.wine_fault() + " " if self.wine_fault() else ""
        if "start_error" in self.data:
            return f"{fault}the driver could not start {self.data['exe']}: error {self.data['start_error']}"
        # A child that has not finished starting (or never did) has no image name.
        children = [f"{ntpath.basename(child.get('image') or '(no image name)')} "
                    f"exit={exit_code_text(child.get('exit_code'))}" for child in self.children]
        return (f"{fault}exit={self.exit_code} killed={self.killed} timed_out={self.data.get('timed_out')} "
                f"splash={self.splash.get('visible_ms')}..{self.splash.get('gone_ms')} ms boxes={boxes} "
                f"children={children} result={os.path.basename(self.path)}")


def exit_code_text(code):
    """An exit code as people look it up: a status such as 0xc0000135 in hex."""
    return f"{code:#x}" if isinstance(code, int) and code >= 0x10000 else str(code)


def run_driver(session, exe, cwd, out, *, env=None, dll_overrides=None, timeout_ms=30000, **options):
    """Runs the driver on EXE (Windows path) with working folder CWD (Windows
    path); OUT is the Unix path of the result file. Keyword options map to
    the driver's --options (close_at_ms -> --close-at-ms); Unix paths are
    given for screenshot and kill_when_file. TIMEOUT_MS counts from the
    program's start, and the cost of starting a program is added to it.
    Wine's error output of the run (the driver's, the program's and its
    children's) is kept beside OUT, in OUT with .stderr.txt for .json."""
    prefix = session.prefix
    start_ms = round(session.program_start_seconds * 1000)
    program_timeout_ms = timeout_ms + start_ms  # the driver's wait, from the program's start
    args = [session.config.driver, "--exe", exe, "--cwd", cwd, "--out", prefix.windows_path(out),
            "--timeout-ms", str(program_timeout_ms)]
    for name, value in options.items():
        if value is None:
            continue
        if name in ("screenshot", "kill_when_file"):
            value = prefix.windows_path(value)
        args += ["--" + name.replace("_", "-"), str(value)]
    if os.path.exists(out):
        os.unlink(out)
    # Our wait also covers starting the driver itself, and its writing up.
    completed = run_detached(session.command(*args), prefix.env(env, dll_overrides),
                             (program_timeout_ms + start_ms) / 1000 + 60)
    stderr_file = os.path.splitext(out)[0] + ".stderr.txt"
    with open(stderr_file, "wb") as handle:
        handle.write(completed.stderr)
    if completed.returncode != 0 or not os.path.exists(out):
        raise RuntimeError(f"tavrelo-driver failed ({completed.returncode}), its error output "
                           f"({os.path.basename(stderr_file)}): {completed.stderr.decode(errors='replace')[-2000:]}")
    with open(out, encoding="utf-8") as handle:
        return DriverResult(json.load(handle), out, completed.stderr)


def read_records(path):
    """The stand-in runtime's records, one per start, in order."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as handle:
        return [json.loads(line) for line in handle if line.strip()]
