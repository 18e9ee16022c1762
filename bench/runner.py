"""Runs tavrelo.exe and baseline.exe of one bitness alternately through that
bitness's tavrelo-driver.exe, in one Wine session (one Xvfb, one prefix)
set up with the e2e harness, which is imported from e2e/, not copied."""

import json
import os
import sys
import time
from dataclasses import dataclass
from pathlib import Path

from .figures import run_figures, run_problems
from .procfs import CpuSampler
from .wine_trace import CHANNELS, parse_trace, trace_problems

ROOT = Path(__file__).resolve().parent.parent
BUILD_FOLDERS = {"i686": "win32", "x86_64": "win64"}


def import_harness():
    sys.dont_write_bytecode = True  # no caches left in other people's folders
    if str(ROOT / "e2e") not in sys.path:
        sys.path.insert(0, str(ROOT / "e2e"))
    import harness
    from harness import wine
    return harness, wine


def open_session(harness, bitness, work):
    """A started session whose launcher and tools are this checkout's build
    of BITNESS, whatever other exes the environment names."""
    for name in ("TAVRELO_EXE", "TAVRELO_E2E_TOOLS"):
        os.environ.pop(name, None)
    for bits, folder in BUILD_FOLDERS.items():
        os.environ[harness.config.BUILD_VARIABLES[bits]] = str(ROOT / "build" / folder)
    os.environ["TAVRELO_E2E_ARTIFACTS"] = str(work)
    os.environ.setdefault("TAVRELO_E2E_TEMPLATE", str(Path(work) / "wine-template"))
    return harness.Session("bench", bitness=bitness).start()


@dataclass
class Program:
    name: str
    exe: str             # Windows path
    cwd: str             # Windows path
    exe_name: str        # file name, as Wine names the process
    starts_runtime: bool


class Bench:
    def __init__(self, bitness, work):
        self.harness, self.wine = import_harness()
        self.session = open_session(self.harness, bitness, work)
        try:
            self.prefix = self.session.prefix
            self.scratch = self.session.scratch("bench")
            self.counter = 0
            # A registered stand-in runtime with the support files in place:
            # the launcher copies nothing and starts the child at once.
            drive_c = self.prefix.drive_c
            runtime = self.harness.make_runtime(self.session, drive_c / "Program Files" / "Java" / "jre6")
            self.harness.set_java_runtimes(self.session, [("1.6", runtime.home)])
            app = self.harness.make_app_folder(self.session, drive_c / "Tavrelo Bench")
            self.launcher = Program("launcher", app.exe, app.win, "tavrelo.exe", True)
            baseline = self.prefix.windows_path(self.session.config.baseline)
            self.baseline = Program("baseline", baseline, "C:\\", "baseline.exe", False)
        except BaseException:
            self.session.stop()
            raise

    def close(self):
        self.session.stop()

    def _paths(self, program, kind):
        self.counter += 1
        stem = f"{self.counter:03d}-{program.name}-{kind}"
        return self.scratch / f"{stem}.json", self.scratch / f"{stem}-java.jsonl"

    def _check(self, program, data, record):
        starts = len(self.harness.read_records(record))
        problems = run_problems(data, 1 if program.starts_runtime else None, starts)
        if problems:
            raise RuntimeError(f"{program.name} run: " + "; ".join(problems))

    def run(self, program, kind="timed"):
        """One run to the program's own exit; its figures."""
        out, record = self._paths(program, kind)
        env = {"TAVRELO_JAVA_RECORD": self.prefix.windows_path(record)}
        sampler = CpuSampler(self.prefix.path, program.exe_name)
        sampler.start()
        try:
            result = self.harness.run_driver(self.session, program.exe, program.cwd, out, env=env,
                                             timeout_ms=40000)
        finally:
            time.sleep(0.05)  # one more look, at the ended process
            sampler.stop()
        self._check(program, result.data, record)
        if not sampler.samples:
            raise RuntimeError(f"the {program.name}'s Unix process was not found under /proc")
        return run_figures(result.data, sampler.cpu_ns)

    def traced_run(self, program, trace_file):
        """One run with Wine's trace channels on; the parsed trace. The
        trace's text is kept in TRACE_FILE."""
        out, record = self._paths(program, "traced")
        config = self.session.config
        args = [config.driver, "--exe", program.exe, "--cwd", program.cwd, "--out", self.prefix.windows_path(out),
                "--timeout-ms", "60000"]
        env = self.prefix.env({"WINEDEBUG": CHANNELS, "TAVRELO_JAVA_RECORD": self.prefix.windows_path(record)})
        completed = self.wine.run_detached(self.session.command(*args), env, 120)
        text = completed.stderr.decode("utf-8", errors="replace")
        Path(trace_file).write_text(text)
        if completed.returncode != 0 or not out.exists():
            raise RuntimeError(f"traced {program.name} run failed; see {trace_file}")
        data = json.loads(out.read_text(encoding="utf-8"))
        self._check(program, data, record)
        trace = parse_trace(text, program.exe_name)
        problems = trace_problems(trace)
        if not problems and trace.pid != data["pid"]:
            problems.append(f"trace pid {trace.pid} is not the driver's pid {data['pid']}")
        if problems:
            raise RuntimeError(f"traced {program.name} run: " + "; ".join(problems) + f"; see {trace_file}")
        return trace


def measure(bitness, runs, traced_runs, work, log):
    """RUNS timed runs and TRACED_RUNS traced runs of each program, after one
    warm-up run of each: the first programs in a fresh prefix also start
    Wine's desktop process and fill the page cache."""
    bench = Bench(bitness, work)
    try:
        config = bench.session.config
        results = {"launcher": {"runs": [], "traces": []}, "baseline": {"runs": [], "traces": []},
                   "ran": {"launcher": config.exe, "baseline": config.baseline, "driver": config.driver}}
        programs = (bench.launcher, bench.baseline)
        log(f"{bitness}: warm-up runs")
        for program in programs:
            bench.run(program, "warmup")
        for index in range(runs):
            for program in programs:
                figures = bench.run(program)
                results[program.name]["runs"].append(figures)
                log(f"{bitness} run {index + 1}/{runs} {program.name}: visible {figures['visible_ms']:.0f} ms, "
                    f"tick {figures['tick_ms']:.0f} ms, total {figures['total_ms'] / 1000:.3f} s, "
                    f"cpu {figures['cpu_ms']:.0f} ms, peak {figures['peak_ws'] / 2**20:.1f} MiB")
        for index in range(traced_runs):
            for program in programs:
                log(f"{bitness} traced run {index + 1}/{traced_runs} {program.name}")
                trace_file = Path(work) / f"trace-{bitness}-{program.name}-{index + 1}.txt"
                results[program.name]["traces"].append(bench.traced_run(program, trace_file))
        return results
    finally:
        bench.close()
