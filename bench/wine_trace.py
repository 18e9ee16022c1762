"""A program's start-up read from a Wine trace: the DLLs it loaded before
showing its window, and its 2000 ms timer to 1 ms."""

import ntpath
import re

CHANNELS = "+pid,+timestamp,+loaddll,+win,+msg"
TIMER_MS = 2000  # both programs set a 2000 ms timer in WM_CREATE

LINE = re.compile(r"^(\d+)\.(\d{3}):([0-9a-f]+):[0-9a-f]+:\w+:(\w+):(\S+) ?(.*)$")
LOADED = re.compile(r'Loaded L"(.*)" at ')
SET_TIMER = re.compile(r"Added (0x[0-9a-f]+) \S+ \S+ timeout (\d+)")


def parse_trace(text, pid):
    """The start-up of the process with Windows pid PID in a WINEDEBUG=CHANNELS
    trace: tick_ms, from its 2000 ms SetTimer to that window's first WM_TIMER
    (stamps on Wine's 1 ms tick clock), and dlls, the DLLs it loaded before
    ShowWindow of that window. ValueError when a step is not in the trace."""
    dlls, window, stamps = set(), None, {}
    for line in text.splitlines():
        match = LINE.match(line)
        if not match or int(match[3], 16) != pid:
            continue
        seconds, millis, _, channel, function, message = match.groups()
        stamp = int(seconds) * 1000 + int(millis)
        loaded = LOADED.search(message) if channel == "loaddll" else None
        if loaded and "show" not in stamps:
            dlls.add(ntpath.basename(loaded[1]).lower())
        elif function == "NtUserSetTimer" and window is None:
            timer = SET_TIMER.match(message)
            if timer and int(timer[2]) == TIMER_MS:
                stamps["set_timer"], window = stamp, timer[1]
        elif window is None:
            continue
        elif function == "show_window" and f"hwnd={window}," in message:
            stamps.setdefault("show", stamp)
        elif "(WM_TIMER)" in message and f"hwnd {window} " in message:
            stamps.setdefault("wm_timer", stamp)
    missing = [step for step in ("set_timer", "show", "wm_timer") if step not in stamps]
    if missing:
        raise ValueError(f"no {', no '.join(missing)} of process {pid} in the trace")
    # The program's own exe is no DLL; ntdll.dll, which Wine maps before its
    # loader logs anything, is counted in.
    return {"tick_ms": stamps["wm_timer"] - stamps["set_timer"],
            "dlls": len({name for name in dlls if not name.endswith(".exe")}) + 1}
