"""Runs tavrelo.exe and baseline.exe of one bitness alternately through that
bitness's tavrelo-driver.exe, in one Wine session set up with the e2e
harness (imported, not copied), and reads the figures of each run."""

import ntpath
import os
import sys
import time
from collections import namedtuple
from pathlib import Path

from .procfs import CpuSampler, i386_emulator
from .wine_trace import CHANNELS, parse_trace

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "e2e"))
import harness  # noqa: E402

BUILD_FOLDERS = {"i686": "win32", "x86_64": "win64"}
FT_PER_MS = harness.FILETIME_PER_SECOND // 1000
# exe and cwd are Windows paths; runtime_starts is how often a sound run starts the runtime.
Program = namedtuple("Program", "name exe cwd runtime_starts")


def baseline_exe(bitness):
    return ROOT / "build" / BUILD_FOLDERS[bitness] / "bench" / "baseline.exe"


def run_figures(data, sampler):
    """Times in ms from the process's creation time as the driver read it,
    CPU in ms, peak working set in bytes."""
    created, splash = data["creation_time"], data["splash"]
    ended = data["exit_time"] or data["exit_seen_time"]
    return {"visible_ms": (splash["visible_time"] - created) / FT_PER_MS,
            "tick_ms": (splash["gone_time"] - splash["visible_time"]) / FT_PER_MS,
            "total_ms": (ended - created) / FT_PER_MS,
            "cpu_ms": sampler.cpu_ns / 1e6,
            "peak_ws": sampler.peak_bytes}


def run_problems(data, runtime_starts, expected_starts):
    """What makes a run unusable; empty when it is sound. The driver writes
    no exit code for a program that it could not start, killed or timed out."""
    checks = {f"exit code {data.get('exit_code')}, expected 0": data.get("exit_code") != 0,
              "no window was seen": not data.get("splash", {}).get("seen"),
              "message boxes": bool(data.get("message_boxes")),
              "no process creation time": not data.get("creation_time"),
              f"runtime started {runtime_starts} times, expected {expected_starts}": runtime_starts != expected_starts}
    return [problem for problem, failed in checks.items() if failed]


def run(session, program, kind, env=None):
    """One run of PROGRAM to its own exit through the driver, checked; the
    driver's result and the sampler of the program's Unix process."""
    folder = session.scratch(f"{program.name}-{kind}")
    record = folder / "java.jsonl"
    env = {"TAVRELO_JAVA_RECORD": session.prefix.windows_path(record), **(env or {})}
    sampler = CpuSampler(session.prefix.path, ntpath.basename(program.exe),
                         i386_emulator() if session.bitness == "i686" else None)
    sampler.start()
    try:
        result = harness.run_driver(session, program.exe, program.cwd, folder / "result.json", env=env,
                                    timeout_ms=60000)
    finally:
        time.sleep(0.05)  # one more look, at the ended process
        sampler.stop()
    problems = run_problems(result.data, len(harness.read_records(record)), program.runtime_starts)
    if not sampler.samples:
        problems.append("its Unix process was not found under /proc")
    if problems:
        raise RuntimeError(f"{kind} {program.name} run: {'; '.join(problems)} ({result.summary()})")
    return result, sampler


def measure(bitness, runs, work, log):
    """RUNS timed runs and one traced run of each program after a warm-up run
    (which also starts Wine's desktop and fills the page cache); the launcher's
    runtime has its support files, so it copies nothing. Per program its
    figures (lists over the timed runs) and traced figures; the exes that ran."""
    for name in ("TAVRELO_EXE", "TAVRELO_E2E_TOOLS"):
        os.environ.pop(name, None)  # this checkout's builds, whatever the environment names
    os.environ[harness.BUILD_VARIABLES[bitness]] = str(ROOT / "build" / BUILD_FOLDERS[bitness])
    os.environ["TAVRELO_E2E_ARTIFACTS"] = str(work)
    session = harness.Session("bench", bitness=bitness).start()
    try:
        drive_c = session.prefix.drive_c
        runtime = harness.make_runtime(session, drive_c / "Program Files" / "Java" / "jre6")
        harness.set_java_runtimes(session, [("1.6", runtime.home)])
        app = harness.make_app_folder(session, drive_c / "Tavrelo Bench")
        programs = (Program("launcher", app.exe, app.win, 1),
                    Program("baseline", session.prefix.windows_path(baseline_exe(bitness)), "C:\\", 0))
        log(f"{bitness}: warm-up runs")
        for program in programs:
            run(session, program, "warmup")
        figures = {program.name: {} for program in programs}
        for index in range(runs):
            for program in programs:
                result, sampler = run(session, program, "timed")
                one = run_figures(result.data, sampler)
                log(f"{bitness} run {index + 1}/{runs} {program.name}: "
                    + ", ".join(f"{key} {value:.0f}" for key, value in one.items()))
                for key, value in one.items():
                    figures[program.name].setdefault(key, []).append(value)
        traces = {}
        for program in programs:
            log(f"{bitness} traced run {program.name}")
            result, _ = run(session, program, "traced", {"WINEDEBUG": CHANNELS})
            trace_file = work / f"trace-{bitness}-{program.name}.txt"
            trace_file.write_bytes(result.stderr)
            try:
                traces[program.name] = parse_trace(result.stderr.decode(errors="replace"), result["pid"])
            except ValueError as error:
                raise RuntimeError(f"traced {program.name} run: {error}; see {trace_file}") from None
        return figures, traces, dict(launcher=session.exe, baseline=baseline_exe(bitness), driver=session.driver)
    finally:
        session.stop()
