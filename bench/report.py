"""Medians with their range, the start-up targets judged on them, and the
bench's Markdown tables."""

import random
import statistics
from dataclasses import dataclass

DRIVER_POLL_MS = 15                 # kPollMilliseconds in e2e/tools/driver.cc
POLL_ERROR_MS = DRIVER_POLL_MS + 1  # one poll period plus the scan itself

RATIO_LIMITS = (("visible_ms", "Start to visible window", 1.05),
                ("cpu_ms", "CPU time", 1.1),
                ("peak_ws", "Peak working set", 1.05))
TICK_MS = (2000, 2100)
TOTAL_MS = (12000, 12300)
SIZE_LIMIT = 320 * 1024             # bytes apart from the picture


@dataclass
class Spread:
    median: float
    low: float
    high: float

    @classmethod
    def of(cls, values):
        values = list(values)
        return cls(statistics.median(values), min(values), max(values))


def spreads(runs):
    """Spread per figure over RUNS (dicts of figures)."""
    return {key: Spread.of(run[key] for run in runs) for key in runs[0]}


def ratio_interval(mine, theirs, rounds=4000, seed=1):
    """A 95 % bootstrap interval of median(MINE) / median(THEIRS): both sets
    of runs resampled with replacement; the same seed gives the same
    interval for the same runs."""
    rng = random.Random(seed)
    ratios = sorted(statistics.median(rng.choices(mine, k=len(mine)))
                    / statistics.median(rng.choices(theirs, k=len(theirs))) for _ in range(rounds))
    return ratios[int(rounds * 0.025)], ratios[int(rounds * 0.975) - 1]


@dataclass
class Target:
    name: str
    met: bool
    measured: str


def ratio_targets(launcher_runs, baseline_runs):
    """Judged on the ratio of the medians of the runs' figures; the bootstrap
    interval beside it shows how far the runs allow that ratio to move."""
    targets = []
    for key, name, limit in RATIO_LIMITS:
        mine, theirs = [run[key] for run in launcher_runs], [run[key] for run in baseline_runs]
        ratio = statistics.median(mine) / statistics.median(theirs)
        low, high = ratio_interval(mine, theirs)
        noisy = " (interval spans the limit)" if low <= limit < high else ""
        targets.append(Target(f"{name} ≤ {limit} × baseline", ratio <= limit,
                              f"{ratio:.3f} × (95 % interval {low:.2f}–{high:.2f}){noisy}"))
    return targets


def tick_target(polled, traced):
    """POLLED: Spread of window visible → gone; TRACED: SetTimer → WM_TIMER
    of each traced run (ms). Met when every traced value is in range and the
    polled median agrees within its error."""
    low, high = TICK_MS
    exact_ok = bool(traced) and all(low <= value <= high for value in traced)
    polled_ok = low - POLL_ERROR_MS <= polled.median <= high + POLL_ERROR_MS
    traced_text = ", ".join(f"{value} ms" for value in traced) or "none"
    return Target(f"First tick {low}–{high} ms", exact_ok and polled_ok,
                  f"traced {traced_text}; polled median {polled.median:.0f} ms ±{POLL_ERROR_MS}")


def total_target(total):
    """Judged on every run: creation and exit times are exact."""
    low, high = TOTAL_MS
    return Target(f"Total run {low / 1000:.1f}–{high / 1000:.1f} s", total.low >= low and total.high <= high,
                  f"all runs {total.low / 1000:.3f}–{total.high / 1000:.3f} s")


def size_target(exe):
    without = exe["size"] - exe["picture"]
    return Target(f"Release exe ≤ {SIZE_LIMIT // 1024} KB apart from the picture", without <= SIZE_LIMIT,
                  f"{without} bytes ({without / 1024:.1f} KiB)")


# Per figure: its row's label, and its unit as (divisor, name, decimals).
MS, S, MIB = (1, "ms", 0), (1000, "s", 3), (2**20, "MiB", 1)
ROWS = (("visible_ms", "Process start → window visible", MS),
        ("tick_ms", "First timer tick: window visible → gone (polled every 15 ms)", MS),
        ("total_ms", "Total run: process start → exit", S),
        ("cpu_ms", "CPU time, whole run", MS),
        ("peak_ws", "Peak working set", MIB))


def cell(spread, unit):
    divisor, name, decimals = unit
    median, low, high = (value / divisor for value in (spread.median, spread.low, spread.high))
    return f"{median:.{decimals}f} {name} ({low:.{decimals}f}–{high:.{decimals}f})"


def span(values):
    return f"{min(values):.0f}" if min(values) == max(values) else f"{min(values):.0f}–{max(values):.0f}"


def figures_table(launcher, baseline, runs, launcher_traces, baseline_traces):
    """LAUNCHER and BASELINE: Spread per figure over RUNS runs each; the
    traced runs give the exact tick and the DLLs loaded before the window
    was shown (ntdll.dll, which Wine maps before its loader logs anything,
    counted in)."""
    lines = [f"| Median (min–max) of {runs} runs each | Launcher | Baseline | Launcher / baseline |",
             "|---|---|---|---|"]
    for key, label, unit in ROWS:
        ratio = launcher[key].median / baseline[key].median if baseline[key].median else float("nan")
        lines.append(f"| {label} | {cell(launcher[key], unit)} | {cell(baseline[key], unit)} | {ratio:.2f} |")
    count = len(launcher_traces)
    for label, figure in ((f"First tick: SetTimer → WM_TIMER (traced, {count} run(s))", lambda t: t.tick_ms),
                          (f"DLLs loaded before ShowWindow (traced, {count} run(s))",
                           lambda t: len(t.dlls_before_show) + 1)):
        mine = [figure(trace) for trace in launcher_traces]
        theirs = [figure(trace) for trace in baseline_traces]
        lines.append(f"| {label} | {span(mine)} | {span(theirs)} | "
                     f"{statistics.median(mine) / statistics.median(theirs):.2f} |")
    return "\n".join(lines)


def exe_table(exe):
    without = exe["size"] - exe["picture"]
    return "\n".join([
        "| Release executable | Value |", "|---|---|",
        f"| Size | {exe['size']} bytes ({exe['size'] / 1024:.1f} KiB) |",
        f"| Picture (pe_check.py `splash_bytes`) | {exe['picture']} bytes ({exe['picture'] / 1024:.1f} KiB) |",
        f"| Size apart from the picture | {without} bytes ({without / 1024:.1f} KiB) |",
        f"| Imported DLLs | {', '.join(exe['imports'])} |"])


def targets_table(targets):
    lines = ["| Target | Measured | Result |", "|---|---|---|"]
    lines += [f"| {t.name} | {t.measured} | {'met' if t.met else '**missed**'} |" for t in targets]
    return "\n".join(lines)
