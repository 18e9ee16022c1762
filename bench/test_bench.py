"""Checks of the bench's reading of /proc and Wine traces, its statistics and
its verdicts, without Wine:
    /usr/bin/python3 -B -m unittest -v bench/test_bench.py"""

import subprocess
import tempfile
import time
import unittest
from pathlib import Path
from unittest import mock

from bench import __main__ as cli
from bench import procfs, report, runner, wine_trace

MS = runner.FT_PER_MS
T0 = 133_000_000_000_000_000  # some FILETIME


def driver_data(**changes):
    data = {"exit_code": 0, "creation_time": T0, "exit_time": T0 + 12_100 * MS, "exit_seen_time": T0 + 12_101 * MS,
            "peak_working_set": 24_000_000, "message_boxes": [],
            "splash": {"seen": True, "visible_time": T0 + 90 * MS, "gone_time": T0 + 2_095 * MS}}
    return {**data, **changes}


class SamplerTests(unittest.TestCase):
    """The sampler against real Unix processes named as Wine names them."""

    def start(self, prefix, argv0, *args, script="sleep 3"):
        """A shell named ARGV0 that runs SCRIPT, or the script file and
        arguments given as ARGS; its standard input and output are pipes."""
        process = self.enterContext(subprocess.Popen([argv0, *(args or ("-c", script))], executable="/bin/sh",
                                                     env={"WINEPREFIX": prefix}, stdin=subprocess.PIPE,
                                                     stdout=subprocess.PIPE))
        self.addCleanup(process.kill)
        return process

    def test_takes_a_new_process_of_its_prefix_and_name_and_sums_its_cpu_time_until_it_is_reaped(self):
        with tempfile.TemporaryDirectory() as prefix, tempfile.TemporaryDirectory() as other:
            earlier = self.start(prefix, "C:\\app\\tavrelo.exe", script="read x; (echo; read x)")  # an earlier run's
            sampler = procfs.CpuSampler(prefix, "tavrelo.exe")
            earlier.stdin.write(b"\n")
            earlier.stdin.flush()
            earlier.stdout.readline()  # it has forked a subshell: a new process of its name that never execs
            self.assertIsNone(sampler.find())
            self.start(other, "C:\\app\\tavrelo.exe")   # another prefix's
            self.start(prefix, "C:\\app\\tavrelo-helper.exe")
            started = time.monotonic()  # before it starts: it runs from its fork on, while Popen returns
            wanted = self.start(prefix, "C:\\App\\Tavrelo.EXE", script="while :; do :; done")
            sampler.start()
            time.sleep(0.5)
            wanted.kill()
            wanted.wait()
            ran = time.monotonic() - started
            sampler.join(5)  # on a loaded machine its next look may come late
            self.assertFalse(sampler.is_alive())  # ended on its own, without stop()
            sampler.stop()
            self.assertEqual(sampler.pid, wanted.pid)
            self.assertGreater(sampler.samples, 3)
            # A busy single thread: some CPU time, never more than the time it ran.
            self.assertGreater(sampler.cpu_ns, 20e6)
            self.assertLess(sampler.cpu_ns, ran * 1e9)


    def test_takes_an_emulated_program_by_the_argument_after_wines_loader(self):
        with tempfile.TemporaryDirectory() as prefix:
            loader = Path(prefix) / "wine"  # stands in for Wine's loader, run by the emulator
            loader.write_text("sleep 3\n")
            emulator = "/usr/bin/qemu-i386"
            sampler = procfs.CpuSampler(prefix, "tavrelo.exe", emulator)
            self.start(prefix, emulator, str(loader), "C:\\app\\tavrelo-helper.exe")
            wanted = self.start(prefix, emulator, str(loader), "C:\\App\\Tavrelo.EXE")
            sampler.start()
            time.sleep(0.3)
            sampler.stop()
            self.assertEqual(sampler.pid, wanted.pid)


class RunTests(unittest.TestCase):
    def test_times_count_from_the_creation_time(self):
        self.assertEqual(runner.run_figures(driver_data(), 60_000_000),
                         {"visible_ms": 90, "tick_ms": 2005, "total_ms": 12_100, "cpu_ms": 60, "peak_ws": 24_000_000})
        self.assertEqual(runner.run_figures(driver_data(exit_time=0), 0)["total_ms"], 12_101)

    def test_a_sound_run_and_each_fault_named(self):
        self.assertEqual(runner.run_problems(driver_data(), 1, 1), [])
        cases = {
            "exit code None": (driver_data(exit_code=None, killed=True), 0),
            "message boxes": (driver_data(message_boxes=[{"text": "The Java application could not be started."}]), 0),
            "no window": (driver_data(splash={"seen": False}), 0),
            "no process creation time": ({"start_error": 2}, 0),
            "runtime started 2 times, expected 0": (driver_data(), 2),
        }
        for expected, (data, starts) in cases.items():
            with self.subTest(expected):
                problems = runner.run_problems(data, starts, 0)
                self.assertTrue(any(expected in problem for problem in problems), problems)


TRACE = """\
100.010:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\App\\\\tavrelo.exe" at 0000000140000000: native
100.011:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\kernel32.dll" at 7B600000: builtin
100.012:0020:0024:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\imm32.dll" at 393730000: builtin
100.040:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\GDI32.dll" at 30A8A0000: builtin
100.041:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\gdi32.dll" at 30A8A0000: builtin
100.042:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\winex11.drv" at 251D80000: builtin
100.060:0030:0034:trace:msg:NtUserSetTimer Added 0x10050 7 (nil) timeout 500
100.061:0030:0034:trace:msg:NtUserSetTimer Added 0x20044 1 (nil) timeout 2000
100.062:0030:0034:trace:win:show_window hwnd=0x20044, cmd=10, was_visible 0
100.064:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\ole32.dll" at 20B860000: builtin
100.561:0030:0034:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x10050 wp 7 lp 0
102.000:0020:0024:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x20044 wp 1 lp 0
102.062:0030:0034:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x20044 wp 1 lp 0
"""


class TraceTests(unittest.TestCase):
    def test_the_processs_own_timer_window_and_dlls_before_show(self):
        # The 2000 ms timer's window, not the other one, and its tick in its own process; kernel32, gdi32 (once),
        # winex11.drv and ntdll before that window showed, not the exe, another process's imm32 or the later ole32.
        self.assertEqual(wine_trace.parse_trace(TRACE, 0x30), {"tick_ms": 2001, "dlls": 4})

    def test_a_missing_step_or_process_is_reported(self):
        with self.assertRaisesRegex(ValueError, "^no wm_timer of process 48 in"):
            wine_trace.parse_trace(TRACE.split("102.062")[0], 0x30)
        with self.assertRaisesRegex(ValueError, "no set_timer, no show, no wm_timer of process 64"):
            wine_trace.parse_trace(TRACE, 0x40)


KEYS = [key for key, _, _ in report.RATIO_LIMITS]


def ratio_verdict(key, mine, theirs):
    """The verdict on KEY when the launcher's runs measure MINE and the
    baseline's THEIRS; the other figures are equal."""
    others = dict.fromkeys(KEYS, [1])
    return report.ratio_targets({**others, key: mine}, {**others, key: theirs})[KEYS.index(key)]


class TargetTests(unittest.TestCase):
    def test_ratios_at_and_above_their_limits(self):
        self.assertTrue(ratio_verdict("visible_ms", [105] * 5, [100] * 5).met)
        self.assertFalse(ratio_verdict("visible_ms", [106] * 5, [100] * 5).met)
        self.assertTrue(ratio_verdict("cpu_ms", [110] * 5, [100] * 5).met)
        self.assertFalse(ratio_verdict("cpu_ms", [111] * 5, [100] * 5).met)
        self.assertFalse(ratio_verdict("peak_ws", [21_100_000] * 5, [20_000_000] * 5).met)

    def test_an_interval_spanning_the_limit_is_marked_and_repeats(self):
        noisy = ratio_verdict("visible_ms", [80, 104, 150, 95, 130], [70, 100, 120, 85, 105])
        self.assertTrue(noisy.met)  # the medians decide
        self.assertIn("spans the limit", noisy.measured)
        self.assertEqual(noisy, ratio_verdict("visible_ms", [80, 104, 150, 95, 130], [70, 100, 120, 85, 105]))
        self.assertIn("interval 1.04–1.04)", ratio_verdict("visible_ms", [104] * 5, [100] * 5).measured)

    def test_tick_needs_the_traced_value_in_range_and_the_polled_median_to_agree(self):
        def met(polled, traced):
            return report.tick_target([polled - 1000, polled, polled + 900], traced).met
        self.assertTrue(met(1997, 2000))
        self.assertTrue(met(2050, 2100))
        self.assertFalse(met(1997, 1999))
        self.assertFalse(met(2050, 2101))
        self.assertTrue(met(2000 - report.POLL_ERROR_MS, 2001))
        self.assertFalse(met(2000 - report.POLL_ERROR_MS - 1, 2001))
        self.assertFalse(met(2100 + report.POLL_ERROR_MS + 1, 2001))

    def test_total_run_holds_for_every_run(self):
        self.assertTrue(report.total_target([12_100, 12_000, 12_300]).met)
        self.assertFalse(report.total_target([12_100, 11_999, 12_200]).met)
        self.assertFalse(report.total_target([12_100, 12_050, 12_301]).met)

    def test_size_of_the_whole_file(self):
        self.assertTrue(report.size_target({"size": 81_920, "splash_bytes": 25_550}).met)
        self.assertFalse(report.size_target({"size": 81_921, "splash_bytes": 25_550}).met)


class BitnessTests(unittest.TestCase):
    def choose(self, asked, why):
        with mock.patch.object(runner.harness.wine, "wow64_problem", return_value=why):
            return cli.choose_bitnesses(asked)

    def test_i686_by_default_and_x86_64_with_the_reason_where_32_bit_code_cannot_run(self):
        self.assertEqual(self.choose(None, ""), (["i686"], None))
        bitnesses, line = self.choose(None, "the kernel refuses 32-bit programs")
        self.assertEqual(bitnesses, ["x86_64"])
        self.assertIn("i686 exe cannot run on this machine, the kernel refuses 32-bit programs", line)
        self.assertEqual(self.choose(["x86_64", "x86_64"], "refused"), (["x86_64"], None))
        with self.assertRaises(SystemExit):
            self.choose(["x86_64", "i686"], "refused")


if __name__ == "__main__":
    unittest.main()
