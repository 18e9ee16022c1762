"""Runs tavrelo.exe and baseline.exe of one bitness alternately through that
bitness's tavrelo-driver.exe, in one Wine session (one Xvfb, one prefix)
set up with the e2e harness, which is imported from e2e/, not copied; and
the figures of one run, from the driver's result and the sampled CPU time."""

import ntpath
import os
import sys
import time
from collections import namedtuple
from pathlib import Path

from .procfs import CpuSampler
from .wine_trace import CHANNELS, parse_trace, trace_problems

ROOT = Path(__file__).resolve().parent.parent
BUILD_FOLDERS = {"i686": "win32", "x86_64": "win64"}
FT_PER_MS = 10_000  # FILETIME units (100 ns) per millisecond
Program = namedtuple("Program", "name exe cwd")  # exe and cwd: Windows paths


def import_harness():
    sys.dont_write_bytecode = True  # no caches left in other people's folders
    if str(ROOT / "e2e") not in sys.path:
        sys.path.insert(0, str(ROOT / "e2e"))
    import harness
    from harness import wine
    return harness, wine


def run_figures(data, cpu_ns):
    """Times in ms from the process's creation time (GetProcessTimes,
    through the driver), CPU in ms, peak working set in bytes."""
    created = data["creation_time"]
    visible = data["splash"]["visible_time"]
    ended = data.get("exit_time") or data["exit_seen_time"]
    # The driver notes the window gone when it is destroyed or hidden, or at
    # the process's end when that came first.
    gone = data["splash"].get("gone_time") or ended
    return {
        "visible_ms": (visible - created) / FT_PER_MS,
        "tick_ms": (gone - visible) / FT_PER_MS,
        "total_ms": (ended - created) / FT_PER_MS,
        "cpu_ms": cpu_ns / 1e6,
        "peak_ws": data["peak_working_set"],
    }


def run_problems(data, expect_child_starts, child_starts):
    """What makes a run unusable; empty when it is sound. EXPECT_CHILD_STARTS
    is None for a program that starts no runtime."""
    if "start_error" in data:
        return [f"could not be started (error {data['start_error']})"]
    problems = []
    if data.get("killed") or data.get("timed_out"):
        problems.append("was killed or timed out")
    if data.get("exit_code") != 0:
        problems.append(f"exit code {data.get('exit_code')}, expected 0")
    if not data.get("splash", {}).get("seen"):
        problems.append("no window was seen")
    elif not data["splash"].get("gone_time"):
        problems.append("the window never went away")
    boxes = data.get("message_boxes", [])
    if boxes:
        problems.append("message boxes: " + "; ".join(box.get("text", "")[:80] for box in boxes))
    if not data.get("creation_time"):
        problems.append("no process creation time")
    if expect_child_starts is not None and child_starts != expect_child_starts:
        problems.append(f"runtime started {child_starts} times, expected {expect_child_starts}")
    return problems


class Bench:
    """One session of BITNESS: the launcher, with a registered stand-in
    runtime that has the support files in place (so it copies nothing and
    starts the child at once), and the baseline."""

    def __init__(self, bitness, work):
        self.harness, _ = import_harness()
        for name in ("TAVRELO_EXE", "TAVRELO_E2E_TOOLS"):
            os.environ.pop(name, None)  # this checkout's builds, whatever the environment names
        for bits, folder in BUILD_FOLDERS.items():
            os.environ[self.harness.config.BUILD_VARIABLES[bits]] = str(ROOT / "build" / folder)
        os.environ["TAVRELO_E2E_ARTIFACTS"] = str(work)
        os.environ.setdefault("TAVRELO_E2E_TEMPLATE", str(Path(work) / "wine-template"))
        self.session = self.harness.Session("bench", bitness=bitness).start()
        try:
            self.prefix = self.session.prefix
            self.scratch = self.session.scratch("bench")
            self.counter = 0
            drive_c = self.prefix.drive_c
            runtime = self.harness.make_runtime(self.session, drive_c / "Program Files" / "Java" / "jre6")
            self.harness.set_java_runtimes(self.session, [("1.6", runtime.home)])
            app = self.harness.make_app_folder(self.session, drive_c / "Tavrelo Bench")
            self.programs = (Program("launcher", app.exe, app.win),
                             Program("baseline", self.prefix.windows_path(self.session.config.baseline), "C:\\"))
        except BaseException:
            self.session.stop()
            raise

    def drive(self, program, kind, env=None):
        """One run of PROGRAM to its own exit through the driver; its result,
        checked."""
        self.counter += 1
        stem = self.scratch / f"{self.counter:03d}-{program.name}-{kind}"
        record = Path(f"{stem}-java.jsonl")
        env = {"TAVRELO_JAVA_RECORD": self.prefix.windows_path(record), **(env or {})}
        result = self.harness.run_driver(self.session, program.exe, program.cwd, Path(f"{stem}.json"), env=env,
                                         timeout_ms=60000)
        problems = run_problems(result.data, 1 if program.name == "launcher" else None,
                                len(self.harness.read_records(record)))
        if problems:
            raise RuntimeError(f"{kind} {program.name} run: " + "; ".join(problems))
        return result

    def run(self, program, kind="timed"):
        """One run; its figures."""
        sampler = CpuSampler(self.prefix.path, ntpath.basename(program.exe))
        sampler.start()
        try:
            result = self.drive(program, kind)
        finally:
            time.sleep(0.05)  # one more look, at the ended process
            sampler.stop()
        if not sampler.samples:
            raise RuntimeError(f"the {program.name}'s Unix process was not found under /proc")
        return run_figures(result.data, sampler.cpu_ns)

    def traced_run(self, program, trace_file):
        """One run with Wine's trace channels on; the parsed trace. The
        trace's text is kept in TRACE_FILE."""
        result = self.drive(program, "traced", {"WINEDEBUG": CHANNELS})
        text = result.stderr.decode("utf-8", errors="replace")
        Path(trace_file).write_text(text)
        trace = parse_trace(text, ntpath.basename(program.exe))
        problems = trace_problems(trace)
        if not problems and trace.pid != result["pid"]:
            problems.append(f"trace pid {trace.pid} is not the driver's pid {result['pid']}")
        if problems:
            raise RuntimeError(f"traced {program.name} run: " + "; ".join(problems) + f"; see {trace_file}")
        return trace


def measure(bitness, runs, traced_runs, work, log):
    """RUNS timed runs and TRACED_RUNS traced runs of each program, after one
    warm-up run of each: the first programs in a fresh prefix also start
    Wine's desktop process and fill the page cache. Per program its runs'
    figures and its traces, and the exes that ran."""
    bench = Bench(bitness, work)
    try:
        config = bench.session.config
        results = {"launcher": ([], []), "baseline": ([], [])}
        log(f"{bitness}: warm-up runs")
        for program in bench.programs:
            bench.run(program, "warmup")
        for index in range(runs):
            for program in bench.programs:
                figures = bench.run(program)
                results[program.name][0].append(figures)
                log(f"{bitness} run {index + 1}/{runs} {program.name}: visible {figures['visible_ms']:.0f} ms, "
                    f"tick {figures['tick_ms']:.0f} ms, total {figures['total_ms'] / 1000:.3f} s, "
                    f"cpu {figures['cpu_ms']:.0f} ms, peak {figures['peak_ws'] / 2**20:.1f} MiB")
        for index in range(traced_runs):
            for program in bench.programs:
                log(f"{bitness} traced run {index + 1}/{traced_runs} {program.name}")
                trace_file = Path(work) / f"trace-{bitness}-{program.name}-{index + 1}.txt"
                results[program.name][1].append(bench.traced_run(program, trace_file))
        return results, {"launcher": config.exe, "baseline": config.baseline, "driver": config.driver}
    finally:
        bench.session.stop()
