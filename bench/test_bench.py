"""Checks of the bench's own arithmetic and parsing, without Wine:
    /usr/bin/python3 -B -m unittest -v bench/test_bench.py
Not part of CTest, like the bench itself."""

import importlib.machinery
import os
import subprocess
import sys
import tempfile
import time
import types
import unittest
from pathlib import Path

sys.dont_write_bytecode = True

# Loaded from its file: run from /work/main, "bench" names this folder.
_loader = importlib.machinery.SourceFileLoader("bench_script", str(Path(__file__).resolve().parent / "bench.py"))
bench = types.ModuleType(_loader.name)
bench.__file__ = _loader.path
_loader.exec_module(bench)

MS = bench.FT_PER_MS
T0 = 133_000_000_000_000_000  # some FILETIME


def driver_result(**changes):
    data = {
        "pid": 400, "exit_code": 0, "killed": False, "timed_out": False,
        "creation_time": T0, "exit_time": T0 + 12_100 * MS, "exit_seen_time": T0 + 12_101 * MS,
        "user_time": 50 * MS, "kernel_time": 80 * MS, "peak_working_set": 24_000_000,
        "splash": {"seen": True, "visible_time": T0 + 90 * MS, "gone_time": T0 + 2_095 * MS},
        "message_boxes": [],
    }
    data.update(changes)
    return data


def samples(points):
    """(ms after T0, cpu ms) pairs as /proc samples."""
    return [bench.Sample(T0 + ms * MS, "S", 0, 0, int(cpu * 1e6)) for ms, cpu in points]


class ProcParsingTests(unittest.TestCase):
    def test_stat_with_a_command_name_holding_spaces_and_parentheses(self):
        text = "4242 (C:\\a (b) c.exe) S 1 4242 4242 0 -1 4194304 10 0 0 0 7 3 0 0 20 0 1 0 100 0 0"
        self.assertEqual(bench.parse_stat(text), ("S", 1, 7, 3))

    def test_zombie_state(self):
        self.assertEqual(bench.parse_stat("9 (x) Z 1 9 9 0 -1 0 0 0 0 0 12 5 0 0")[0], "Z")

    def test_smaps_groups_by_file_name_and_keeps_anonymous_apart(self):
        text = "\n".join([
            "7f0000000000-7f0000001000 r--p 00000000 fe:00 12 /usr/lib/wine/x86_64-windows/GDIPLUS.dll",
            "Size: 4 kB", "Rss:                  4 kB",
            "7f0000001000-7f0000003000 r-xp 00001000 fe:00 12 /usr/lib/wine/x86_64-windows/gdiplus.dll",
            "Rss:                  8 kB",
            "7f0000003000-7f0000004000 rw-p 00000000 00:00 0 ",
            "Rss:                  4 kB",
            "7f0000004000-7f0000006000 rw-p 00000000 00:00 0                          [heap]",
            "Rss:                  8 kB",
            "7f0000006000-7f0000007000 rw-s 00000000 00:01 77 /dev/shm/wine (deleted)",
            "Rss:                  4 kB",
        ])
        self.assertEqual(bench.parse_smaps(text),
                         {"gdiplus.dll": 12, "[anonymous]": 4, "[heap]": 8, "wine": 4})

    def test_program_name_from_windows_and_unix_paths(self):
        self.assertEqual(bench.program_name("C:\\Tavrelo Bench\\Tavrelo.EXE"), "tavrelo.exe")
        self.assertEqual(bench.program_name("/work/build/tavrelo-driver.exe"), "tavrelo-driver.exe")
        self.assertNotEqual(bench.program_name("/work/build/tavrelo-driver.exe"), "tavrelo.exe")

    def test_status_value(self):
        self.assertEqual(bench.parse_status_kb("VmPeak:\t 100 kB\nVmHWM:\t  2048 kB\n", "VmHWM"), 2048)
        self.assertIsNone(bench.parse_status_kb("VmRSS: 1 kB\n", "VmHWM"))


class SamplerTests(unittest.TestCase):
    """The sampler against real Unix processes named as Wine names them."""

    def start(self, prefix, argv0):
        process = subprocess.Popen([argv0, "3"], executable="/bin/sleep", env={"WINEPREFIX": prefix})
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        return process

    def test_finds_only_a_new_process_of_its_prefix_and_name(self):
        with tempfile.TemporaryDirectory() as prefix, tempfile.TemporaryDirectory() as other:
            before = self.start(prefix, "C:\\app\\tavrelo.exe")  # an earlier run's, still there
            sampler = bench.ProcessSampler(prefix, ["tavrelo.exe"])
            self.start(other, "C:\\app\\tavrelo.exe")             # another prefix's
            self.start(prefix, "C:\\app\\tavrelo-helper.exe")     # another program
            wanted = self.start(prefix, "C:\\app\\tavrelo.exe")
            sampler.start()
            time.sleep(0.3)
            sampler.stop_event.set()
            sampler.join(5)
            watched = sampler.watched[0]
            self.assertEqual(watched.pid, wanted.pid)
            self.assertNotEqual(watched.pid, before.pid)
            self.assertGreater(len(watched.samples), 3)
            self.assertTrue(all(later.filetime >= earlier.filetime
                                for earlier, later in zip(watched.samples, watched.samples[1:])))

    def test_a_required_parent_picks_the_direct_child(self):
        with tempfile.TemporaryDirectory() as prefix:
            sampler = bench.ProcessSampler(prefix, ["tool.exe"], {"tool.exe": os.getpid()})
            # A grandchild of the same name first, as a fork of the driver is.
            grandchild = subprocess.Popen(["/bin/bash", "-c", "(exec -a 'C:\\tool.exe' sleep 3); true"],
                                          env={"WINEPREFIX": prefix})
            self.addCleanup(grandchild.wait)
            self.addCleanup(grandchild.kill)
            time.sleep(0.2)
            child = self.start(prefix, "C:\\tool.exe")
            sampler.start()
            time.sleep(0.2)
            sampler.stop_event.set()
            sampler.join(5)
            self.assertEqual(sampler.watched[0].pid, child.pid)

    def test_an_ended_process_ends_its_sampling(self):
        with tempfile.TemporaryDirectory() as prefix:
            sampler = bench.ProcessSampler(prefix, ["short.exe"])
            process = subprocess.Popen(["C:\\short.exe", "0.2"], executable="/bin/sleep",
                                       env={"WINEPREFIX": prefix})
            sampler.start()
            process.wait()
            time.sleep(0.1)
            sampler.stop_event.set()
            sampler.join(5)
            watched = sampler.watched[0]
            self.assertEqual(watched.pid, process.pid)
            self.assertTrue(watched.ended)


class FigureTests(unittest.TestCase):
    def test_times_count_from_the_creation_time(self):
        figures = bench.run_figures(driver_result(), samples([(0, 0), (100, 40), (12_090, 60)]), [])
        self.assertEqual(figures["visible_ms"], 90)
        self.assertEqual(figures["tick_ms"], 2005)
        self.assertEqual(figures["total_ms"], 12_100)
        self.assertEqual(figures["driver_reported_cpu_ms"], 130)
        self.assertEqual(figures["cpu_ms"], 60)

    def test_a_window_gone_with_the_process_ends_at_the_exit(self):
        data = driver_result(exit_time=0, exit_seen_time=T0 + 2_070 * MS)
        data["splash"]["gone_time"] = 0
        figures = bench.run_figures(data, samples([(0, 0), (2_000, 50)]), [])
        self.assertEqual(figures["tick_ms"], 1_980)
        self.assertEqual(figures["total_ms"], 2_070)

    def test_cpu_is_the_largest_thread_sum_and_the_split_the_last_ticks(self):
        points = [bench.Sample(T0, "S", 1, 1, 20_000_000), bench.Sample(T0 + MS, "S", 3, 4, 75_000_000),
                  bench.Sample(T0 + 2 * MS, "Z", 3, 5, 70_000_000)]  # a thread ended: its share left the sum
        figures = bench.usage_figures(points)
        self.assertEqual(figures["cpu_ms"], 75)
        self.assertEqual(figures["user_ms"], 3 * 1000 / bench.CLOCK_TICKS)
        self.assertEqual(figures["kernel_ms"], 5 * 1000 / bench.CLOCK_TICKS)

    def test_phases_are_cut_at_the_window_times(self):
        # visible at 90, gone at 2095, last sample at 12 095.
        points = samples([(20, 10), (80, 40), (100, 50), (300, 58), (1_000, 59), (2_100, 61),
                          (2_400, 65), (12_000, 66), (12_095, 70)])
        phases = bench.cpu_phases(points, driver_result())
        self.assertEqual(phases["cpu_start_ms"], 40)        # last sample at or before 90
        self.assertEqual(phases["cpu_first_shown_ms"], 18)  # 90 .. 340
        self.assertEqual(phases["cpu_shown_ms"], 1)         # 340 .. 2095
        self.assertEqual(phases["cpu_launch_ms"], 6)        # 2095 .. 2595
        self.assertEqual(phases["cpu_rest_ms"], 5)          # 2595 .. 12 095
        self.assertAlmostEqual(phases["rest_s"], 9.5)
        self.assertAlmostEqual(sum(value for key, value in phases.items() if key.startswith("cpu")), 70)

    def test_value_before_the_first_sample_is_the_first(self):
        self.assertEqual(bench.value_at(samples([(50, 7), (60, 9)]), T0, "cpu_ns"), 7_000_000)


class ProblemTests(unittest.TestCase):
    def test_a_sound_run(self):
        self.assertEqual(bench.run_problems(driver_result(), 1, 1), [])
        self.assertEqual(bench.run_problems(driver_result(), None, 0), [])

    def test_each_fault_is_named(self):
        cases = {
            "exit code": driver_result(exit_code=None, killed=True),
            "message boxes": driver_result(message_boxes=[{"text": "The Java application could not be started."}]),
            "no window": driver_result(splash={"seen": False}),
            "never went away": driver_result(splash={"seen": True, "visible_time": T0, "gone_time": 0}),
        }
        for expected, data in cases.items():
            with self.subTest(expected):
                problems = bench.run_problems(data, None, 0)
                self.assertTrue(any(expected in problem for problem in problems), problems)
        self.assertIn("runtime started 0 times, expected 1", bench.run_problems(driver_result(), 1, 0))
        self.assertEqual(len(bench.run_problems({"start_error": 2}, 1, 0)), 1)


TRACE = """\
100.000:0020:0024:trace:loaddll:build_module Loaded L"Z:\\\\tools\\\\tavrelo-driver.exe" at 0000000140000000: native
100.010:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\App\\\\tavrelo.exe" at 0000000140000000: native
100.011:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\kernel32.dll" at 000000007B600000: builtin
100.012:0020:0024:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\imm32.dll" at 0000000393730000: builtin
100.040:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\GDIPLUS.dll" at 000000030A8A0000: builtin
100.050:0030:0034:trace:loaddll:free_modref Unloaded module L"C:\\\\windows\\\\system32\\\\gdiplus.dll" : builtin
100.060:0030:0034:trace:msg:NtUserSetTimer Added 0x10050 7 (nil) timeout 500
100.061:0030:0034:trace:msg:NtUserSetTimer Added 0x20044 1 (nil) timeout 2000
100.062:0030:0034:trace:win:show_window hwnd=0x20044, cmd=10, was_visible 0
100.063:0030:0034:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\ole32.dll" at 000000020B860000: builtin
100.070:0030:0034:trace:win:NtUserBeginPaint hdc = 0x14010059 box = ((0,0)-(487,517)), fErase = 0
100.072:0030:0034:trace:win:release_dc 0x20044 0x2010050
100.075:0030:0034:trace:win:release_dc 0x20044 0x14010059
100.561:0030:0034:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x10050 wp 7 lp 0
102.000:0020:0024:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x20044 wp 1 lp 0
102.062:0030:0034:trace:msg:peek_message got type 6 msg 113 (WM_TIMER) hwnd 0x20044 wp 1 lp 0
102.063:0030:0034:trace:win:NtUserDestroyWindow (0x20044)
102.070:0040:0044:trace:loaddll:build_module Loaded L"C:\\\\Java\\\\bin\\\\java.exe" at 0000000140000000: native
"""


class TraceTests(unittest.TestCase):
    def test_the_programs_own_process_and_times(self):
        trace = bench.parse_trace(TRACE, "tavrelo.exe")
        self.assertEqual(trace.pid, 0x30)
        self.assertEqual(trace.loaded_ms, 100_010)
        self.assertEqual(trace.set_timer_ms, 100_061)  # the 2000 ms timer, not the other one
        self.assertEqual(trace.show_ms, 100_062)
        self.assertEqual(trace.paint_ms, 100_070)
        self.assertEqual(trace.paint_end_ms, 100_075)  # the paint DC, not another one
        self.assertEqual(trace.wm_timer_ms, 102_062)   # its own window's tick, in its own process
        self.assertEqual(trace.destroy_ms, 102_063)
        self.assertEqual(bench.trace_problems(trace), [])

    def test_dlls_before_and_after_show_of_that_process_only(self):
        trace = bench.parse_trace(TRACE, "tavrelo.exe")
        self.assertEqual(trace.dlls_before_show, ["kernel32.dll", "gdiplus.dll"])
        self.assertEqual(trace.dlls_all, ["kernel32.dll", "gdiplus.dll", "ole32.dll"])
        self.assertEqual(trace.unloaded, ["gdiplus.dll"])
        self.assertEqual(trace.load_ms, {"kernel32.dll": 100_011, "gdiplus.dll": 100_040, "ole32.dll": 100_063})
        self.assertEqual(trace.unload_ms, {"gdiplus.dll": 100_050})
        self.assertEqual(bench.picture_start(trace, ["ole32.dll", "gdiplus.dll"]), 100_040)

    def test_a_missing_step_is_reported(self):
        cut = TRACE.split("102.062")[0]
        problems = bench.trace_problems(bench.parse_trace(cut, "tavrelo.exe"))
        self.assertEqual(problems, ["no wm_timer in the trace", "no destroy in the trace"])
        self.assertEqual(bench.trace_problems(bench.parse_trace(TRACE, "absent.exe")),
                         ["the program's process is not in the trace"])


def spread(value, low=None, high=None):
    return bench.Spread(value, value if low is None else low, value if high is None else high, 7)


class TargetTests(unittest.TestCase):
    def figures(self, **values):
        base = {"visible_ms": 100, "cpu_ms": 50, "peak_ws": 20_000_000, "tick_ms": 2_000, "total_ms": 12_100}
        base.update(values)
        return {key: value if isinstance(value, bench.Spread) else spread(value) for key, value in base.items()}

    def judge(self, launcher=None, baseline=None, exe=None, ticks=(2001,)):
        traces = [bench.ProcessTrace(1, "x", 0, set_timer_ms=10, wm_timer_ms=10 + tick) for tick in ticks]
        exe = exe or {"size": 305_152, "picture": 12_788}
        targets = bench.judge_targets(launcher or self.figures(), baseline or self.figures(), exe, traces)
        return {target.key: target.met for target in targets}

    def test_ratios_at_and_above_the_limit(self):
        self.assertTrue(self.judge(self.figures(visible_ms=120), self.figures(visible_ms=100))["visible_ms"])
        self.assertFalse(self.judge(self.figures(visible_ms=121), self.figures(visible_ms=100))["visible_ms"])
        self.assertFalse(self.judge(self.figures(cpu_ms=61))["cpu_ms"])
        self.assertFalse(self.judge(self.figures(peak_ws=24_100_000))["peak_ws"])

    def test_the_interval_marks_a_verdict_within_the_noise(self):
        launcher, baseline = self.figures(visible_ms=110), self.figures(visible_ms=100)
        traces = [bench.ProcessTrace(1, "x", 0, set_timer_ms=0, wm_timer_ms=2001)]
        exe = {"size": 1, "picture": 0}
        noisy = {"visible_ms": ([80, 110, 150, 95, 130], [70, 100, 120, 85, 105])}
        steady = {"visible_ms": ([110, 110, 111, 109, 110], [100, 100, 101, 99, 100])}
        visible = bench.judge_targets(launcher, baseline, exe, traces, noisy)[0]
        self.assertTrue(visible.met)  # the medians decide
        self.assertIn("spans 1.2", visible.note)
        self.assertIn("95 % interval", visible.measured)
        self.assertEqual(bench.judge_targets(launcher, baseline, exe, traces, steady)[0].note, "")

    def test_ratio_interval(self):
        self.assertEqual(bench.ratio_interval([12, 12, 12], [10, 10, 10]), (1.2, 1.2))
        low, high = bench.ratio_interval([80, 110, 150, 95, 130], [70, 100, 120, 85, 105])
        self.assertLess(low, 110 / 100)
        self.assertGreater(high, 110 / 100)
        self.assertEqual((low, high), bench.ratio_interval([80, 110, 150, 95, 130], [70, 100, 120, 85, 105]))

    def test_tick_needs_the_exact_value_in_range_and_the_polled_one_to_agree(self):
        self.assertTrue(self.judge(ticks=(2000, 2100))["tick_ms"])
        self.assertFalse(self.judge(ticks=(2000, 1999))["tick_ms"])
        self.assertFalse(self.judge(ticks=(2101,))["tick_ms"])
        self.assertTrue(self.judge(self.figures(tick_ms=2000 - bench.POLL_ERROR_MS))["tick_ms"])
        self.assertFalse(self.judge(self.figures(tick_ms=2000 - bench.POLL_ERROR_MS - 1))["tick_ms"])
        self.assertFalse(self.judge(ticks=())["tick_ms"])

    def test_total_run_holds_for_every_run(self):
        self.assertTrue(self.judge(self.figures(total_ms=spread(12_100, 12_000, 12_300)))["total_ms"])
        self.assertFalse(self.judge(self.figures(total_ms=spread(12_100, 11_999, 12_200)))["total_ms"])
        self.assertFalse(self.judge(self.figures(total_ms=spread(12_100, 12_050, 12_301)))["total_ms"])

    def test_size_apart_from_the_picture(self):
        self.assertTrue(self.judge(exe={"size": 327_680 + 5_000, "picture": 5_000})["size"])
        self.assertFalse(self.judge(exe={"size": 327_681 + 5_000, "picture": 5_000})["size"])


class ReportPieceTests(unittest.TestCase):
    def test_spread(self):
        self.assertEqual(bench.Spread.of([5, 1, 3, 9]), bench.Spread(4, 1, 9, 4))

    def test_memory_difference_keeps_only_what_the_launcher_holds_more_of(self):
        rows = bench.memory_difference({"a.dll": 10, "b.dll": 500, "c.dll": 3}, {"a.dll": 12, "c.dll": 1})
        self.assertEqual(rows, [("b.dll", 500, 0), ("c.dll", 3, 1)])

    def test_median_mapping_counts_absent_as_zero(self):
        self.assertEqual(bench.median_mapping([{"a": 4}, {"a": 6, "b": 2}, {"a": 5}]), {"a": 5, "b": 0})


class ReportTests(unittest.TestCase):
    """The whole report from made-up runs: every section is written and the
    figures land in the right places."""

    def results(self, launcher_visible, exe_name):
        runs = []
        for index in range(5):
            data = driver_result()
            data["splash"]["visible_time"] = T0 + (launcher_visible + index) * MS
            runs.append(bench.run_figures(data, samples([(0, 0), (90, 40 + index), (12_095, 50 + index)]), []))
        trace = bench.parse_trace(TRACE.replace("tavrelo.exe", exe_name), exe_name)
        return {"runs": runs, "memory": [{"a.dll": 100}, {"a.dll": 120}], "rss_kb": [20_000, 20_100],
                "hwm_kb": [21_000, 21_000], "traces": [trace]}

    def test_report(self):
        results = {"launcher": self.results(150, "tavrelo.exe"), "baseline": self.results(90, "baseline.exe"),
                   "seconds": 100}
        results["baseline"]["traces"][0].dlls_before_show.remove("gdiplus.dll")
        info = {"cpu": "Test CPU", "cores": 2, "kernel": "6.0", "wine": "wine-8.0", "commit": "abc1234"}
        exe = {"size": 305_152, "stripped_size": 305_152, "picture": 12_788, "imports": ["KERNEL32.dll"],
               "objdump_imports": ["KERNEL32.dll"], "pe_check_exit": 0, "pe_check_output": "ok"}
        args = bench.parse_args(["--runs", "5", "--traced-runs", "1"])
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "results.md"
            table, _, targets = bench.write_report(path, info, exe, results, args)
            text = path.read_text()
        self.assertIn("| Process start → window visible | 152 ms (150–154) | 92 ms (90–94) | 1.65 |", table)
        self.assertIn("Test CPU, 2 cores, Linux 6.0, wine-8.0", text)
        met = {target.key: target.met for target in targets}
        self.assertFalse(met["visible_ms"])
        self.assertTrue(met["size"])
        self.assertIn("**Time to visible window**", text)
        self.assertIn("launcher only: gdiplus.dll", text)
        for section in ("## Results", "## Targets", "## Where the time and memory go", "## Method", "## Runs"):
            self.assertIn(section, text)


if __name__ == "__main__":
    unittest.main()
