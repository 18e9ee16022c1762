"""Start-up bench: tavrelo.exe against baseline.exe, the smallest Win32
program that shows a window of the same size and ends on a 2000 ms timer,
both of the same bitness, run alternately under Wine through that
bitness's tavrelo-driver.exe. Prints its tables and writes them to a file.

    bench/run [--bitness i686|x86_64]... [--runs N] [--traced-runs N] [--no-build] [--work-dir FOLDER]
"""

import argparse
import datetime
import os
import subprocess
import sys
import time
from pathlib import Path

from . import report
from .exe_figures import exe_figures, pe_bitness
from .runner import BUILD_FOLDERS, ROOT, import_harness, measure

RELEASE_EXE = ROOT / "build" / "win32" / "bin" / "tavrelo.exe"


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="bench/run", description=__doc__.split("\n\n")[0])
    parser.add_argument("--bitness", action="append", choices=sorted(BUILD_FOLDERS),
                        help="bitness to measure, repeatable (default i686, the shipped exe, or x86_64 on a "
                             "machine that runs no 32-bit code)")
    parser.add_argument("--runs", type=int, default=7, help="timed runs of each program (at least 5; default 7)")
    parser.add_argument("--traced-runs", type=int, default=1, help="traced runs of each program (default 1)")
    parser.add_argument("--no-build", action="store_true", help="use the builds that are there")
    parser.add_argument("--work-dir", default=str(ROOT / "build" / "bench"),
                        help="Wine template, prefixes, traces and tables.md (default build/bench)")
    args = parser.parse_args(argv)
    args.bitness = list(dict.fromkeys(args.bitness or []))
    if args.runs < 5:
        parser.error("--runs must be at least 5")
    if args.traced_runs < 1:
        parser.error("--traced-runs must be at least 1")
    return args


def log(text):
    print(text, file=sys.stderr, flush=True)


def build(bitnesses):
    folders = list(dict.fromkeys(BUILD_FOLDERS[bitness] for bitness in bitnesses))
    log("building: scripts/build " + " ".join(folders))
    if subprocess.run([str(ROOT / "scripts" / "build"), *folders], cwd=ROOT, stdout=sys.stderr).returncode != 0:
        sys.exit("bench: the build failed")


def commit():
    def git(*args):
        return subprocess.run(["git", "-C", str(ROOT), *args], capture_output=True, text=True).stdout.strip()
    changed = git("status", "--porcelain", "--untracked-files=no")
    return git("rev-parse", "--short", "HEAD") + (" plus uncommitted changes" if changed else "")


def release_section():
    """The shipped i686 exe's own figures, read from the file."""
    figures = exe_figures(RELEASE_EXE, "i686")
    return "\n".join(["## Release executable", "", f"- {RELEASE_EXE} ({pe_bitness(RELEASE_EXE)})", "",
                      report.exe_table(figures), "",
                      report.targets_table([report.size_target(figures)]), ""])


def run_section(bitness, args, work):
    """Measures one bitness; its tables."""
    results, ran = measure(bitness, args.runs, args.traced_runs, work, log)
    (lruns, ltraces), (bruns, btraces) = results["launcher"], results["baseline"]
    launcher, baseline = report.spreads(lruns), report.spreads(bruns)
    verdicts = [*report.ratio_targets(lruns, bruns),
                report.tick_target(launcher["tick_ms"], [trace.tick_ms for trace in ltraces]),
                report.total_target(launcher["total_ms"])]
    return "\n".join([f"## {bitness} runs", "",
                      *(f"- {role}: {path} ({pe_bitness(path)})" for role, path in ran.items()), "",
                      report.figures_table(launcher, baseline, args.runs, ltraces, btraces), "",
                      report.targets_table(verdicts), ""])


def choose_bitnesses(asked):
    """The bitnesses to measure, and a line saying why i686 is not among
    them when it had to be left out."""
    why = import_harness()[1].wow64_problem()
    if why and "i686" in asked:
        sys.exit(f"bench: the i686 exe cannot run on this machine: {why}; measure --bitness x86_64")
    if asked:
        return asked, None
    if why:
        return ["x86_64"], f"- i686 not measured: the i686 exe cannot run on this machine, {why}; measured x86_64"
    return ["i686"], None


def main(argv):
    args = parse_args(argv)
    work = Path(args.work_dir).resolve()
    work.mkdir(parents=True, exist_ok=True)
    args.bitness, left_out = choose_bitnesses(args.bitness)
    if not args.no_build:
        build(["i686", *args.bitness])
    wine = import_harness()[1].wine_version()
    load = os.getloadavg()[0]
    started = time.monotonic()
    sections = [release_section()] + [run_section(bitness, args, work) for bitness in args.bitness]
    header = ["# Start-up bench tables", "",
              f"- {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}, {wine}, commit {commit()}, "
              f"{os.cpu_count()} cores, load average {load:.1f} before the runs and {os.getloadavg()[0]:.1f} after",
              f"- `{' '.join(['bench/run', *argv])}`: {time.monotonic() - started:.0f} s of runs after the build",
              *([left_out] if left_out else []), ""]
    text = "\n".join(header + sections)
    print(text)
    (work / "tables.md").write_text(text)
    log(f"written to {work / 'tables.md'}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
