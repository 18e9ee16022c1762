"""The bench's verdicts and its reading of Wine traces: /usr/bin/python3 -B -m unittest bench.test_bench"""
import unittest

from bench import report, wine_trace

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
    def test_each_verdict_at_and_past_its_limits(self):
        keys = [key for key, _, _ in report.RATIO_LIMITS]

        def ratio(key, mine):  # against 100 in each of the baseline's runs
            others = dict.fromkeys(keys, [100])
            return report.ratio_targets({**others, key: mine}, others)[keys.index(key)]
        tick = report.tick_target
        total = report.total_target
        size = report.size_target
        for target, met in (
                (ratio("visible_ms", [105]), True), (ratio("visible_ms", [99, 106, 106]), False),
                (ratio("cpu_ms", [110]), True), (ratio("cpu_ms", [111]), False), (ratio("peak_ws", [106]), False),
                (tick([1000, 1997, 2900], 2000), True), (tick([2050], 2100), True), (tick([1997], 1999), False),
                (tick([2050], 2101), False), (tick([1984], 2001), True), (tick([1983], 2001), False),
                (tick([2116], 2001), True), (tick([2117], 2001), False), (total([12100, 12000, 12300]), True),
                (total([12100, 11999]), False), (total([12301]), False),
                (size({"size": 65536}), True), (size({"size": 65537}), False)):
            self.assertEqual(target.met, met, target)

    def test_a_trace_gives_the_processs_own_tick_and_dlls_loaded_before_its_window_showed(self):
        self.assertEqual(wine_trace.parse_trace(TRACE, 0x30), {"tick_ms": 2001, "dlls": 3})
        with self.assertRaisesRegex(ValueError, "^no wm_timer of process 48 in"):
            wine_trace.parse_trace(TRACE.rsplit("\n", 1)[0], 0x30)


if __name__ == "__main__":
    unittest.main()
