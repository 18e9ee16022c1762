"""Checks of the bench's parsing, statistics and verdicts, without Wine:
    /usr/bin/python3 -B -m unittest -v bench/test_bench.py"""

import subprocess
import tempfile
import time
import unittest
from unittest import mock

from bench import __main__ as cli
from bench import procfs, report, runner, wine_trace

MS = runner.FT_PER_MS
T0 = 133_000_000_000_000_000  # some FILETIME


def driver_result(**changes):
    data = {"pid": 400, "exit_code": 0, "killed": False, "timed_out": False, "creation_time": T0,
            "exit_time": T0 + 12_100 * MS, "exit_seen_time": T0 + 12_101 * MS, "peak_working_set": 24_000_000,
            "splash": {"seen": True, "visible_time": T0 + 90 * MS, "gone_time": T0 + 2_095 * MS},
            "message_boxes": []}
    data.update(changes)
    return data


class SamplerTests(unittest.TestCase):
    """The sampler against real Unix processes named as Wine names them."""

    def test_program_name_from_windows_and_unix_paths(self):
        self.assertEqual(procfs.program_name("C:\\Tavrelo Bench\\Tavrelo.EXE"), "tavrelo.exe")
        self.assertEqual(procfs.program_name("/work/build/tavrelo-driver.exe"), "tavrelo-driver.exe")

    def start(self, prefix, argv0, seconds="3"):
        process = subprocess.Popen([argv0, seconds], executable="/bin/sleep", env={"WINEPREFIX": prefix})
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        return process

    def test_takes_only_a_new_process_of_its_prefix_and_name(self):
        with tempfile.TemporaryDirectory() as prefix, tempfile.TemporaryDirectory() as other:
            self.start(prefix, "C:\\app\\tavrelo.exe")  # an earlier run's, still there
            sampler = procfs.CpuSampler(prefix, "tavrelo.exe")
            self.start(other, "C:\\app\\tavrelo.exe")   # another prefix's
            self.start(prefix, "C:\\app\\tavrelo-helper.exe")
            wanted = self.start(prefix, "C:\\app\\tavrelo.exe")
            sampler.start()
            time.sleep(0.3)
            sampler.stop()
            self.assertEqual(sampler.pid, wanted.pid)
            self.assertGreater(sampler.samples, 3)
            self.assertFalse(sampler.ended)

    def test_a_reaped_process_ends_its_sampling(self):
        with tempfile.TemporaryDirectory() as prefix:
            sampler = procfs.CpuSampler(prefix, "short.exe")
            process = self.start(prefix, "C:\\short.exe", "0.2")
            sampler.start()
            process.wait()
            time.sleep(0.1)
            sampler.stop()
            self.assertEqual(sampler.pid, process.pid)
            self.assertTrue(sampler.ended)


class FigureTests(unittest.TestCase):
    def test_times_count_from_the_creation_time(self):
        result = runner.run_figures(driver_result(), 60_000_000)
        self.assertEqual(result, {"visible_ms": 90, "tick_ms": 2005, "total_ms": 12_100, "cpu_ms": 60,
                                  "peak_ws": 24_000_000})

    def test_a_window_gone_with_the_process_ends_at_the_exit(self):
        data = driver_result(exit_time=0, exit_seen_time=T0 + 2_070 * MS)
        data["splash"]["gone_time"] = 0
        result = runner.run_figures(data, 0)
        self.assertEqual((result["tick_ms"], result["total_ms"]), (1_980, 2_070))

    def test_a_sound_run_and_each_fault_named(self):
        self.assertEqual(runner.run_problems(driver_result(), 1, 1), [])
        self.assertEqual(runner.run_problems(driver_result(), None, 0), [])
        cases = {
            "exit code None": driver_result(exit_code=None, killed=True),
            "message boxes": driver_result(message_boxes=[{"text": "The Java application could not be started."}]),
            "no window": driver_result(splash={"seen": False}),
            "never went away": driver_result(splash={"seen": True, "visible_time": T0, "gone_time": 0}),
        }
        for expected, data in cases.items():
            with self.subTest(expected):
                problems = runner.run_problems(data, None, 0)
                self.assertTrue(any(expected in problem for problem in problems), problems)
        self.assertEqual(runner.run_problems(driver_result(), 1, 2), ["runtime started 2 times, expected 1"])
        self.assertEqual(len(runner.run_problems({"start_error": 2}, 1, 0)), 1)


TRACE = """\
100.000:0020:0024:trace:loaddll:build_module Loaded L"Z:\\\\tools\\\\tavrelo-driver.exe" at 0000000140000000: native
100.010:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\App\\\\tavrelo.exe" at 0000000140000000: native
100.011:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\kernel32.dll" at 7B600000: builtin
100.012:0020:0024:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\imm32.dll" at 393730000: builtin
100.040:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\GDI32.dll" at 30A8A0000: builtin
100.041:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\gdi32.dll" at 30A8A0000: builtin
100.060:0030:0034:trace:msg:NtUserSetTimer Added 0x10050 7 (nil) timeout 500
100.061:0030:0034:trace:msg:NtUserSetTimer Added 0x20044 1 (nil) timeout 2000
100.062:0030:0034:trace:win:show_window hwnd=0x20044, cmd=10, was_visible 0
100.063:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\ole32.dll" at 20B860000: builtin
100.561:0030:0034:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x10050 wp 7 lp 0
102.000:0020:0024:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x20044 wp 1 lp 0
102.062:0030:0034:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x20044 wp 1 lp 0
102.063:0030:0034:trace:win:NtUserDestroyWindow (0x20044)
"""


class TraceTests(unittest.TestCase):
    def test_the_programs_own_process_timer_and_dlls_before_show(self):
        trace = wine_trace.parse_trace(TRACE, "Tavrelo.exe")
        self.assertEqual(trace.pid, 0x30)
        self.assertEqual(trace.set_timer_ms, 100_061)  # the 2000 ms timer, not the other one
        self.assertEqual(trace.show_ms, 100_062)
        self.assertEqual(trace.wm_timer_ms, 102_062)   # its own window's tick, in its own process
        self.assertEqual(trace.tick_ms, 2001)
        self.assertEqual(trace.dlls_before_show, ["kernel32.dll", "gdi32.dll"])
        self.assertEqual(wine_trace.trace_problems(trace), [])

    def test_a_missing_step_or_process_is_reported(self):
        cut = wine_trace.parse_trace(TRACE.split("102.062")[0], "tavrelo.exe")
        self.assertEqual(wine_trace.trace_problems(cut), ["no wm_timer in the trace"])
        self.assertEqual(wine_trace.trace_problems(wine_trace.parse_trace(TRACE, "absent.exe")),
                         ["the program's process is not in the trace"])


KEYS = [key for key, _, _ in report.RATIO_LIMITS]


def ratio_verdict(key, mine, theirs):
    """The verdict on KEY when the launcher's runs measure MINE and the
    baseline's THEIRS; the other figures are equal."""
    def runs(values):
        return [{**dict.fromkeys(KEYS, 1), key: value} for value in values]
    return report.ratio_targets(runs(mine), runs(theirs))[KEYS.index(key)]


class TargetTests(unittest.TestCase):
    def test_ratio_interval_brackets_the_ratio_and_repeats(self):
        self.assertEqual(report.ratio_interval([12, 12, 12], [10, 10, 10]), (1.2, 1.2))
        noisy = ([80, 110, 150, 95, 130], [70, 100, 120, 85, 105])
        low, high = report.ratio_interval(*noisy)
        self.assertLess(low, 110 / 100)
        self.assertGreater(high, 110 / 100)
        self.assertEqual((low, high), report.ratio_interval(*noisy))

    def test_ratios_at_and_above_their_limits(self):
        self.assertTrue(ratio_verdict("visible_ms", [105] * 5, [100] * 5).met)
        self.assertFalse(ratio_verdict("visible_ms", [106] * 5, [100] * 5).met)
        self.assertTrue(ratio_verdict("cpu_ms", [110] * 5, [100] * 5).met)
        self.assertFalse(ratio_verdict("cpu_ms", [111] * 5, [100] * 5).met)
        self.assertFalse(ratio_verdict("peak_ws", [21_100_000] * 5, [20_000_000] * 5).met)

    def test_an_interval_spanning_the_limit_is_marked(self):
        noisy = ratio_verdict("visible_ms", [80, 104, 150, 95, 130], [70, 100, 120, 85, 105])
        self.assertTrue(noisy.met)  # the medians decide
        self.assertIn("spans the limit", noisy.measured)
        self.assertNotIn("spans", ratio_verdict("visible_ms", [104] * 5, [100] * 5).measured)

    def test_tick_needs_every_traced_value_in_range_and_the_polled_median_to_agree(self):
        def met(polled, traced):
            return report.tick_target(report.Spread(polled, polled, polled), traced).met
        self.assertTrue(met(1997, [2000, 2100]))
        self.assertFalse(met(1997, [2000, 1999]))
        self.assertFalse(met(2050, [2101]))
        self.assertFalse(met(2050, []))
        self.assertTrue(met(2000 - report.POLL_ERROR_MS, [2001]))
        self.assertFalse(met(2000 - report.POLL_ERROR_MS - 1, [2001]))

    def test_total_run_holds_for_every_run(self):
        self.assertTrue(report.total_target(report.Spread(12_100, 12_000, 12_300)).met)
        self.assertFalse(report.total_target(report.Spread(12_100, 11_999, 12_200)).met)
        self.assertFalse(report.total_target(report.Spread(12_100, 12_050, 12_301)).met)

    def test_size_apart_from_the_picture(self):
        self.assertTrue(report.size_target({"size": 327_680 + 5_000, "picture": 5_000}).met)
        self.assertFalse(report.size_target({"size": 327_681 + 5_000, "picture": 5_000}).met)


class BitnessTests(unittest.TestCase):
    def choose(self, asked, why):
        with mock.patch.object(cli.import_harness()[1], "wow64_problem", return_value=why):
            return cli.choose_bitnesses(asked)

    def test_i686_by_default_and_x86_64_with_the_reason_where_32_bit_code_cannot_run(self):
        self.assertEqual(self.choose([], ""), (["i686"], None))
        bitnesses, line = self.choose([], "the kernel refuses 32-bit programs")
        self.assertEqual(bitnesses, ["x86_64"])
        self.assertIn("i686 exe cannot run on this machine, the kernel refuses 32-bit programs", line)
        self.assertEqual(self.choose(["x86_64"], "refused"), (["x86_64"], None))
        with self.assertRaises(SystemExit):
            self.choose(["x86_64", "i686"], "refused")


if __name__ == "__main__":
    unittest.main()
