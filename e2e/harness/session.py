"""One test module's world for one bitness: an X server, a Wine prefix
copied from the template, a scratch folder, and the timings of its tests."""

import json
import shutil
import sys
import tempfile
import time
import unittest
from pathlib import Path

from . import config as config_module
from . import wine
from .xvfb import Xvfb


class Session:
    """NAME names the module; BITNESS ("i686", the shipped build, unless
    TAVRELO_E2E_BITNESS says otherwise, or "x86_64") chooses the launcher and
    tools in session.config and the registry view of every write made
    through session.prefix."""

    def __init__(self, name, config=None, bitness=None):
        self.config = config or config_module.load(bitness)
        self.bitness = self.config.bitness
        # Artifacts and scratch folders of the two bitnesses never mix.
        self.name = f"{name}_{self.bitness}"
        self.root = None
        self.prefix = None
        self.xvfb = None
        self.started = None
        self.timings = {}
        self.setup_seconds = None
        # What starting one program of this bitness costs here: a wait for a
        # program's window or record allows this much on top (a lot where
        # 32-bit code runs emulated, next to nothing natively).
        self.program_start_seconds = 0.0
        self._counter = 0

    def start(self):
        if self.config.problems:
            raise unittest.SkipTest("; ".join(self.config.problems))
        self.started = time.monotonic()
        # Next to the template, so that the copy can hard-link its files.
        self.config.template.parent.mkdir(parents=True, exist_ok=True)
        self.root = Path(tempfile.mkdtemp(prefix=f"e2e-{self.name}-", dir=self.config.template.parent))
        try:
            if self.config.display:
                display = self.config.display
            else:
                self.xvfb = Xvfb()
                display = self.xvfb.start()
            wine.ensure_template(self.config.template, display)
            if self.bitness == "i686":
                problem = wine.i686_problem(self.config.template)
                if problem:
                    raise RuntimeError(problem)
            self.prefix = wine.copy_template(self.config.template, self.root / "prefix", self.config.reg_view)
            self.prefix.display = display
            self.prefix.start_server()
            self.program_start_seconds = self.measure_program_start()
            self.config.artifacts.mkdir(parents=True, exist_ok=True)
            shutil.rmtree(self.failures_folder(), ignore_errors=True)  # an earlier run's
        except BaseException:
            self.stop()
            raise
        self.setup_seconds = time.monotonic() - self.started
        return self

    def stop(self):
        if self.prefix:
            self.prefix.stop_server()
        if self.xvfb:
            self.xvfb.stop()
        if self.root and not self.config.keep:
            shutil.rmtree(self.root, ignore_errors=True)
        if self.started is not None and self.timings:  # tests ran: say how long they took
            total = time.monotonic() - self.started
            report = {"module": self.name, "total_seconds": round(total, 2),
                      "setup_seconds": round(self.setup_seconds or 0, 2),
                      "program_start_seconds": round(self.program_start_seconds, 2),
                      "tests": {k: round(v, 2) for k, v in sorted(self.timings.items())}}
            emulator = wine.i386_emulator() if self.bitness == "i686" else None
            print(f"\n[{self.name}] total {total:.1f} s (setup {report['setup_seconds']} s, one program start "
                  f"{report['program_start_seconds']} s{', emulated by ' + emulator if emulator else ''})",
                  file=sys.stderr)
            for test, seconds in sorted(self.timings.items(), key=lambda item: -item[1]):
                print(f"  {seconds:6.2f} s  {test}", file=sys.stderr)
            try:
                with open(self.config.artifacts / f"timings-{self.name}.json", "w") as handle:
                    json.dump(report, handle, indent=2)
            except OSError:
                pass

    def measure_program_start(self):
        """Seconds from starting the stand-in runtime, which does nothing
        without a record file, to its end: the better of two runs, since the
        first program in a prefix also starts Wine's services."""
        times = []
        for _ in range(2):
            started = time.monotonic()
            self.prefix.run([self.config.java], bitness=self.bitness)
            times.append(time.monotonic() - started)
        return min(times)

    def command(self, *args):
        """A command line that starts a program of the session's bitness (the
        launcher, or one of its tools) under Wine."""
        return wine.program_command(self.bitness, *args)

    # --- scratch space ------------------------------------------------------

    def scratch(self, name):
        """A new empty Unix folder outside the prefix (for results, records)."""
        self._counter += 1
        folder = self.root / "scratch" / f"{self._counter:03d}-{name}"
        folder.mkdir(parents=True)
        return folder

    def c_folder(self, *parts):
        """A new folder on drive C:, created on the Unix side."""
        folder = self.prefix.drive_c.joinpath(*parts)
        folder.mkdir(parents=True, exist_ok=False)
        return folder

    def artifact(self, name):
        return self.config.artifacts / name

    def failures_folder(self):
        """Where the results of this module's failed tests are kept."""
        return self.artifact(f"{self.name}-failures")


class SessionTestCase(unittest.TestCase):
    """Test case whose module shares one Session (set by the module's
    setUpModule); records how long each test took."""

    session = None

    def setUp(self):
        if self.session is None:
            self.skipTest("no session")
        self._test_started = time.monotonic()
        self.scratch = self.session.scratch(self._testMethodName)

    def keep_results(self):
        """Copies what this test left in its scratch folder (each launch's
        driver record with the exit codes of the program and its children
        and any box text, Wine's error output of that launch, the stand-in
        runtime's records, screenshots) to the artifacts folder, where it
        outlives the session, and returns that copy's path (None before the
        test had a scratch folder). Called for a failed test
        (run_module.py), whose failure then names it."""
        if getattr(self, "scratch", None) is None:
            return None
        target = self.session.failures_folder() / f"{type(self).__name__}.{self._testMethodName}"
        shutil.rmtree(target, ignore_errors=True)
        shutil.copytree(self.scratch, target)
        return target

    def tearDown(self):
        if self.session is not None:
            self.session.timings[self.id().split(".", 1)[-1]] = time.monotonic() - self._test_started


def module_session(name):
    """A test module's setUpModule and tearDownModule: one Session shared by
    all its tests (each module runs in its own process), of the bitness
    TAVRELO_E2E_BITNESS names.

        setUpModule, tearDownModule = harness.module_session("launch")
    """
    def start():
        SessionTestCase.session = Session(name).start()

    def stop():
        session, SessionTestCase.session = SessionTestCase.session, None
        if session:
            session.stop()
    return start, stop
