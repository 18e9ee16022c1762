"""The start-up targets, judged on medians of the runs' figures, and the
bench's Markdown tables. A program's figures are lists over its runs, by
name (visible_ms, tick_ms, total_ms, cpu_ms, peak_ws)."""

import random
import statistics
from collections import namedtuple

POLL_ERROR_MS = 15 + 1  # one poll period (kPollMilliseconds in e2e/tools/driver.cc) plus the scan itself

RATIO_LIMITS = (("visible_ms", "Start to visible window", 1.05),
                ("cpu_ms", "CPU time", 1.1),
                ("peak_ws", "Peak working set", 1.05))
TICK_MS = (2000, 2100)
TOTAL_MS = (12000, 12300)
SIZE_LIMIT = 64 * 1024  # the whole file: pe_check.py's budget for the i686 exe

Target = namedtuple("Target", "name met measured")


def ratio_interval(mine, theirs, rounds=4000, seed=1):
    """A 95 % bootstrap interval of median(MINE) / median(THEIRS): both sets
    of runs resampled with replacement; the same seed gives the same
    interval for the same runs."""
    rng = random.Random(seed)
    ratios = [statistics.median(rng.choices(mine, k=len(mine)))
              / statistics.median(rng.choices(theirs, k=len(theirs))) for _ in range(rounds)]
    cuts = statistics.quantiles(ratios, n=40)
    return cuts[0], cuts[-1]


def ratio_targets(launcher, baseline):
    """Judged on the ratio of the medians; the bootstrap interval beside it
    shows how far the runs allow that ratio to move."""
    targets = []
    for key, name, limit in RATIO_LIMITS:
        ratio = statistics.median(launcher[key]) / statistics.median(baseline[key])
        low, high = ratio_interval(launcher[key], baseline[key])
        noisy = " (interval spans the limit)" if low <= limit < high else ""
        targets.append(Target(f"{name} ≤ {limit} × baseline", ratio <= limit,
                              f"{ratio:.3f} × (95 % interval {low:.2f}–{high:.2f}){noisy}"))
    return targets


def tick_target(polled, traced):
    """POLLED: window visible → gone of each timed run; TRACED: SetTimer →
    WM_TIMER of the traced run (ms). Met when the traced value is in range
    and the polled median agrees within its error."""
    low, high = TICK_MS
    median = statistics.median(polled)
    met = low <= traced <= high and low - POLL_ERROR_MS <= median <= high + POLL_ERROR_MS
    return Target(f"First tick {low}–{high} ms", met,
                  f"traced {traced} ms; polled median {median:.0f} ms ±{POLL_ERROR_MS}")


def total_target(total):
    """Judged on every run: creation and exit times are exact."""
    low, high = TOTAL_MS
    return Target(f"Total run {low / 1000:.1f}–{high / 1000:.1f} s", low <= min(total) and max(total) <= high,
                  f"all runs {min(total) / 1000:.3f}–{max(total) / 1000:.3f} s")


def size_target(exe):
    """EXE: pe_check.py's report on the release executable."""
    return Target(f"Release exe ≤ {SIZE_LIMIT // 1024} KiB", exe["size"] <= SIZE_LIMIT, size_text(exe["size"]))


def size_text(size):
    return f"{size} bytes ({size / 1024:.1f} KiB)"


# Per figure: its row's label, and its unit as (divisor, name, decimals).
MS, S, MIB = (1, "ms", 0), (1000, "s", 3), (2**20, "MiB", 1)
ROWS = (("visible_ms", "Process start → window visible", MS),
        ("tick_ms", "First timer tick: window visible → gone (polled every 15 ms)", MS),
        ("total_ms", "Total run: process start → exit", S),
        ("cpu_ms", "CPU time, whole run", MS),
        ("peak_ws", "Peak working set", MIB))
TRACED_ROWS = (("tick_ms", "First tick: SetTimer → WM_TIMER (traced run)"),
               ("dlls", "DLLs loaded before ShowWindow (traced run)"))


def cell(values, unit):
    divisor, name, decimals = unit
    median, low, high = (value / divisor for value in (statistics.median(values), min(values), max(values)))
    return f"{median:.{decimals}f} {name} ({low:.{decimals}f}–{high:.{decimals}f})"


def figures_table(launcher, baseline, launcher_trace, baseline_trace):
    """The timed runs' figures, median (min–max), and the traced runs' exact
    tick and DLLs loaded before the window was shown."""
    lines = [f"| Median (min–max) of {len(launcher['visible_ms'])} runs each | Launcher | Baseline | "
             "Launcher / baseline |", "|---|---|---|---|"]
    for key, label, unit in ROWS:
        ratio = statistics.median(launcher[key]) / statistics.median(baseline[key])
        lines.append(f"| {label} | {cell(launcher[key], unit)} | {cell(baseline[key], unit)} | {ratio:.2f} |")
    for key, label in TRACED_ROWS:
        mine, theirs = launcher_trace[key], baseline_trace[key]
        lines.append(f"| {label} | {mine} | {theirs} | {mine / theirs:.2f} |")
    return "\n".join(lines)


def exe_table(exe, bare_window_size):
    """EXE: pe_check.py's report on the release executable; beside it the
    size of baseline.exe, a bare window from the same toolchain."""
    return "\n".join([
        "| Release executable | Value |", "|---|---|",
        f"| Size | {size_text(exe['size'])} |",
        f"| Size of the bare window, baseline.exe | {size_text(bare_window_size)} |",
        f"| Picture (pe_check.py `splash_bytes`) | {size_text(exe['splash_bytes'])} |",
        f"| Size apart from the picture | {size_text(exe['size'] - exe['splash_bytes'])} |",
        f"| Imported DLLs | {', '.join(exe['imports'])} |"])


def targets_table(targets):
    lines = ["| Target | Measured | Result |", "|---|---|---|"]
    lines += [f"| {t.name} | {t.measured} | {'met' if t.met else '**missed**'} |" for t in targets]
    return "\n".join(lines)
