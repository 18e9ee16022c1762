"""The start-up targets, judged on one bench run's figures."""

from dataclasses import dataclass

from .stats import ratio_interval

DRIVER_POLL_MS = 15                 # kPollMilliseconds in e2e/tools/driver.cc
POLL_ERROR_MS = DRIVER_POLL_MS + 1  # one poll period plus the scan itself

RATIO_LIMITS = (("visible_ms", "Start to visible window", 1.05),
                ("cpu_ms", "CPU time", 1.1),
                ("peak_ws", "Peak working set", 1.05))
TICK_MS = (2000, 2100)
TOTAL_MS = (12000, 12300)
SIZE_LIMIT = 320 * 1024             # bytes apart from the picture


@dataclass
class Target:
    name: str
    met: bool
    measured: str


def ratio_targets(launcher, baseline, values):
    """LAUNCHER and BASELINE: Spread per figure; VALUES: per figure, the
    single runs' values of both programs. Judged on the ratio of the
    medians; the bootstrap interval beside it shows how far the runs allow
    that ratio to move."""
    targets = []
    for key, name, limit in RATIO_LIMITS:
        ratio = launcher[key].median / baseline[key].median
        low, high = ratio_interval(*values[key])
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


def run_targets(launcher, baseline, values, traced_ticks):
    return [*ratio_targets(launcher, baseline, values), tick_target(launcher["tick_ms"], traced_ticks),
            total_target(launcher["total_ms"])]
