"""Start-up bench: tavrelo.exe against baseline.exe, a bare window of the same size that ends on a 2000 ms
timer, run alternately under Wine. Prints its tables and writes them to build/bench/tables.md."""

import argparse
import datetime
import functools
import os
import subprocess
import sys
import time

from . import report
from .procfs import i386_emulator
from .runner import BUILD_FOLDERS, ROOT, baseline_exe, harness, measure

sys.path.insert(0, str(ROOT / "checks"))
import pe_check  # noqa: E402

RELEASE_EXE = ROOT / "build" / "win32" / "bin" / "tavrelo.exe"
WORK = ROOT / "build" / "bench"  # Wine template, prefixes, traces and tables.md
log = functools.partial(print, file=sys.stderr, flush=True)  # progress, beside the tables on stdout


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="bench/run", description=__doc__.split("\n\n")[0])
    parser.add_argument("--bitness", action="append", choices=sorted(BUILD_FOLDERS),
                        help="bitness to measure, repeatable (default i686, the shipped exe; x86_64 where "
                             "32-bit code cannot run)")
    parser.add_argument("--runs", type=int, default=7, help="timed runs of each program (at least 5; default 7)")
    parser.add_argument("--no-build", action="store_true", help="use the builds that are there")
    args = parser.parse_args(argv)
    # Fewer runs give a median and a bootstrap interval that mean little.
    if args.runs < 5:
        parser.error("--runs must be at least 5")
    return args


def release_section():
    """The shipped i686 exe's own figures, which hold even when one of pe_check's checks fails."""
    exe, _ = pe_check.check(str(RELEASE_EXE), "i686")
    return "\n".join(["## Release executable", "", f"- {RELEASE_EXE} ({pe_check.bitness(RELEASE_EXE)})", "",
                      report.exe_table(exe, baseline_exe("i686").stat().st_size), "",
                      report.targets_table([report.size_target(exe)]), ""])


def run_section(bitness, runs):
    """Measures one bitness; its tables."""
    figures, traces, ran = measure(bitness, runs, WORK, log)
    launcher, baseline = figures["launcher"], figures["baseline"]
    verdicts = [*report.ratio_targets(launcher, baseline),
                report.tick_target(launcher["tick_ms"], traces["launcher"]["tick_ms"]),
                report.total_target(launcher["total_ms"])]
    return "\n".join([f"## {bitness} runs", "",
                      *(f"- {role}: {path} ({pe_check.bitness(path)})" for role, path in ran.items()), "",
                      report.figures_table(launcher, baseline, traces["launcher"], traces["baseline"]), "",
                      report.targets_table(verdicts), ""])


def choose_bitnesses(asked):
    """The bitnesses to measure, and a line saying why i686 is not among them if it had to be left out."""
    why = harness.wow64_problem()
    if why and "i686" in (asked or []):
        sys.exit(f"bench: the i686 exe cannot run on this machine: {why}; measure --bitness x86_64")
    if asked or not why:
        return list(dict.fromkeys(asked or ["i686"])), None
    return ["x86_64"], f"- i686 not measured: the i686 exe cannot run on this machine, {why}; measured x86_64"


def emulation_note(bitnesses):
    """A line saying that the i686 programs ran emulated, where they did."""
    emulator = "i686" in bitnesses and i386_emulator()
    return [f"- i686 ran emulated: this kernel refuses 32-bit programs, and {emulator} runs them; its times "
            "and CPU include the emulator's, for the launcher and the baseline alike"] if emulator else []


def main(argv):
    args = parse_args(argv)
    bitnesses, left_out = choose_bitnesses(args.bitness)
    if not args.no_build:
        folders = sorted({"win32", *(BUILD_FOLDERS[bitness] for bitness in bitnesses)})
        log("building: scripts/build " + " ".join(folders))
        if subprocess.run([str(ROOT / "scripts" / "build"), *folders], cwd=ROOT, stdout=sys.stderr).returncode:
            sys.exit("bench: the build failed")
    load, started = os.getloadavg()[0], time.monotonic()
    sections = [release_section()] + [run_section(bitness, args.runs) for bitness in bitnesses]
    wine = subprocess.run(harness.program_command("x86_64", "--version"), capture_output=True, text=True).stdout
    commit = subprocess.run(["git", "-C", str(ROOT), "describe", "--always", "--dirty= plus uncommitted changes"],
                            capture_output=True, text=True).stdout
    header = ["# Start-up bench tables", "",
              f"- {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}, {wine.strip()}, "
              f"commit {commit.strip()}, {os.cpu_count()} cores, load average {load:.1f} before the runs and "
              f"{os.getloadavg()[0]:.1f} after",
              f"- `{' '.join(['bench/run', *argv])}`: {time.monotonic() - started:.0f} s of runs after the build",
              *([left_out] if left_out else []), *emulation_note(bitnesses), ""]
    text = "\n".join(header + sections)
    print(text)
    (WORK / "tables.md").write_text(text)
    log(f"written to {WORK / 'tables.md'}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
