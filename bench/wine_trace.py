"""A program's start-up read from a Wine trace: the DLLs it loaded before
showing its window, and its 2000 ms timer to 1 ms."""

import re
from dataclasses import dataclass, field

CHANNELS = "+pid,+timestamp,+loaddll,+win,+msg"
TIMER_MS = 2000  # both programs set a 2000 ms timer in WM_CREATE

LINE = re.compile(r"^(\d+)\.(\d{3}):([0-9a-f]+):[0-9a-f]+:\w+:(\w+):(\S+) ?(.*)$")
LOADED = re.compile(r'Loaded L"(.*)" at ')
SET_TIMER = re.compile(r"Added (0x[0-9a-f]+) \S+ \S+ timeout (\d+)")


@dataclass
class StartTrace:
    pid: int
    dlls_before_show: list = field(default_factory=list)
    set_timer_ms: int = None   # stamps on Wine's 1 ms tick clock
    show_ms: int = None
    wm_timer_ms: int = None

    @property
    def tick_ms(self):
        return self.wm_timer_ms - self.set_timer_ms


def module_name(path):
    return path.replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()


def parse_trace(text, exe_name):
    """The first process in a WINEDEBUG=CHANNELS trace that loaded EXE_NAME:
    the DLLs it loaded before ShowWindow of the window its 2000 ms timer was
    set on, and when it set that timer, showed that window and got the
    window's first WM_TIMER. None when no process loaded EXE_NAME."""
    trace = None
    window = None
    for line in text.splitlines():
        match = LINE.match(line)
        if not match:
            continue
        seconds, millis, pid_hex, channel, function, message = match.groups()
        stamp = int(seconds) * 1000 + int(millis)
        loaded = LOADED.search(message) if channel == "loaddll" else None
        if trace is None:
            if loaded and module_name(loaded.group(1)) == exe_name.lower():
                trace = StartTrace(int(pid_hex, 16))
            continue
        if int(pid_hex, 16) != trace.pid:
            continue
        if loaded and trace.show_ms is None:
            name = module_name(loaded.group(1))
            if name not in trace.dlls_before_show:
                trace.dlls_before_show.append(name)
        elif function == "NtUserSetTimer" and window is None:
            timer = SET_TIMER.match(message)
            if timer and int(timer.group(2)) == TIMER_MS:
                trace.set_timer_ms = stamp
                window = timer.group(1)
        elif window is None:
            continue
        elif function == "show_window" and trace.show_ms is None and f"hwnd={window}," in message:
            trace.show_ms = stamp
        elif "(WM_TIMER)" in message and trace.wm_timer_ms is None and f"hwnd {window} " in message:
            trace.wm_timer_ms = stamp
    return trace


def trace_problems(trace):
    if trace is None:
        return ["the program's process is not in the trace"]
    return [f"no {name[:-3]} in the trace" for name in ("set_timer_ms", "show_ms", "wm_timer_ms")
            if getattr(trace, name) is None]
