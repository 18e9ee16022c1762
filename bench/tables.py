"""The bench's Markdown tables."""

import statistics


def cell(spread, unit):
    if unit == "s":
        return f"{spread.median / 1000:.3f} s ({spread.low / 1000:.3f}–{spread.high / 1000:.3f})"
    if unit == "MiB":
        mib = 2**20
        return f"{spread.median / mib:.1f} MiB ({spread.low / mib:.1f}–{spread.high / mib:.1f})"
    return f"{spread.median:.0f} ms ({spread.low:.0f}–{spread.high:.0f})"


def span(values, unit=""):
    values = list(values)
    if not values:
        return "–"
    if min(values) == max(values):
        return f"{values[0]:.0f}{unit}"
    return f"{min(values):.0f}–{max(values):.0f}{unit}"


ROWS = (("visible_ms", "Process start → window visible", "ms"),
        ("tick_ms", "First timer tick: window visible → gone (polled every 15 ms)", "ms"),
        ("total_ms", "Total run: process start → exit", "s"),
        ("cpu_ms", "CPU time, whole run", "ms"),
        ("peak_ws", "Peak working set", "MiB"))


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
