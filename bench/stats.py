"""Medians with their range, and an interval for a ratio of medians."""

import random
import statistics
from dataclasses import dataclass


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
