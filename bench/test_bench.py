"""The bench's reading of Wine traces: /usr/bin/python3 -B -m unittest bench.test_bench"""
import unittest

from bench import wine_trace

LOAD = 'loaddll:build_module Loaded L"C:\\\\%s" at 7B600000: builtin'
TICK = "msg:peek_message got type 6 msg 113"
# Process 0x30's 2000 ms timer (not its 500 ms one, nor process 0x20's) ticks 2001 ms after it was set; before
# its window showed it loaded kernel32 and gdi32 (named twice), and ntdll counts too.
TRACE = "\n".join(f"{ms // 1000}.{ms % 1000:03}:{pid:04x}:0034:trace:{text}" for ms, pid, text in (
    (100010, 0x30, LOAD % "App\\\\tavrelo.exe"), (100011, 0x30, LOAD % "kernel32.dll"),
    (100012, 0x20, LOAD % "imm32.dll"), (100040, 0x30, LOAD % "GDI32.dll"), (100041, 0x30, LOAD % "gdi32.dll"),
    (100060, 0x30, "msg:NtUserSetTimer Added 0x10050 7 (nil) timeout 500"),
    (100061, 0x30, "msg:NtUserSetTimer Added 0x20044 1 (nil) timeout 2000"),
    (100062, 0x30, "win:show_window hwnd=0x20044, cmd=10"), (100064, 0x30, LOAD % "ole32.dll"),
    (100561, 0x30, TICK + " (WM_TIMER) hwnd 0x10050 wp 7"), (102000, 0x20, TICK + " (WM_TIMER) hwnd 0x20044 wp 1"),
    (102062, 0x30, TICK + " (WM_TIMER) hwnd 0x20044 wp 1")))


class Bench(unittest.TestCase):
    def test_a_trace_gives_the_processs_own_tick_and_dlls_loaded_before_its_window_showed(self):
        self.assertEqual(wine_trace.parse_trace(TRACE, 0x30), {"tick_ms": 2001, "dlls": 3})
        with self.assertRaisesRegex(ValueError, "^no wm_timer of process 48 in"):
            wine_trace.parse_trace(TRACE.rsplit("\n", 1)[0], 0x30)


if __name__ == "__main__":
    unittest.main()
