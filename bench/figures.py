"""The figures of one run, from the driver's result and the sampled CPU
time, and what makes a run unusable for them."""

FT_PER_MS = 10_000  # FILETIME units (100 ns) per millisecond


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
