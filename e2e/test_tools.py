"""Checks of the helper programs themselves under Wine: what the launcher
tests rely on them to report must be right.
    TAVRELO_WIN32_DIR=build/win32 /usr/bin/python3 e2e/run_module.py test_tools -v
"""

import unittest

import harness


setUpModule, tearDownModule = harness.module_session("tools")


class StandInRuntimeTests(harness.SessionTestCase):
    def setUp(self):
        super().setUp()
        self.record = self.scratch / "records.jsonl"
        self.program = harness.plant_standin(self.session, self.session.prefix.drive_c / "Tool Test" /
                                             f"{self._testMethodName}.exe")

    def start(self, *args):
        prefix = self.session.prefix
        env = {"TAVRELO_JAVA_RECORD": prefix.windows_path(self.record)}
        prefix.run([prefix.windows_path(self.program), *args], env=prefix.env(env), bitness=self.session.bitness)
        return harness.read_records(self.record)

    def test_records_are_valid_json_whatever_the_command_line_holds(self):
        awkward = ['quote"inside', "back\\slash\\", "tab\there", "Grüße Ω 測試", "astral \U0001F600"]
        records = self.start(*awkward)
        self.assertEqual(len(records), 1)
        command = records[0]["command_line"]
        for piece in ("quote", "inside", "back\\slash", "\t", "Grüße Ω 測試", "\U0001F600"):
            self.assertIn(piece, command)
        self.assertEqual(records[0]["exe_path"], self.session.prefix.windows_path(self.program))
        self.assertIsInstance(records[0]["start_time"], int)

    def test_each_start_appends_a_record(self):
        self.start("first")
        records = self.start("second")
        self.assertEqual([r["command_line"].split()[-1] for r in records], ["first", "second"])
        self.assertLess(records[0]["start_time"], records[1]["start_time"])


class DriverTests(harness.SessionTestCase):
    def test_baseline_window(self):
        # The baseline program: one plain window, closed by its 2 s timer.
        # It records when it created and destroyed its window: the driver
        # reports the system's times of the window's creation (to the ms of
        # the event's stamp) and of the exit, however late it looked.
        app = self.session.c_folder("Baseline Tool")
        (app / "baseline.exe").write_bytes((self.session.config.tools / "baseline.exe").read_bytes())
        exe = self.session.prefix.windows_path(app / "baseline.exe")
        record_file = self.scratch / "baseline-record.jsonl"
        result = harness.run_driver(self.session, exe, "C:\\", self.scratch / "driver.json", inspect_at_ms=300,
                                    env={"TAVRELO_BASELINE_RECORD": self.session.prefix.windows_path(record_file)})
        self.assertEqual(result.exit_code, 0, result.summary())
        self.assertTrue(result.splash["seen"])
        self.assertEqual(result.inspection["title"], "Baseline")
        self.assertEqual((result.inspection["client_rect"]["width"], result.inspection["client_rect"]["height"]),
                         (487, 517))
        [own] = harness.read_records(record_file)
        created, ms = result.splash["created_time"], harness.FILETIME_PER_SECOND // 1000
        self.assertTrue(own["create_begin"] - 2 * ms <= created <= own["create_end"] + 2 * ms,
                        f"created at {created}, by its own clock {own}; {result.summary()}")
        self.assertTrue(0 < result.exit_seconds_after(own["destroy_end"]) < 1.0, f"{own}; {result.summary()}")
        self.assertGreater(result["peak_working_set"], 0)
        self.assertEqual(result.boxes, [])

    def test_missing_program_is_reported_not_hidden(self):
        result = harness.run_driver(self.session, "C:\\missing.exe", "C:\\",
                                    self.scratch / "driver.json")
        self.assertEqual(result["start_error"], 2)
        self.assertNotIn("exit_code", result.data)

    def test_bad_options_are_refused(self):
        prefix = self.session.prefix
        completed = prefix.run([self.session.config.driver, "--exe", "x.exe", "--out", "y.json",
                                "--close-how", "sideways"], check=False, bitness=self.session.bitness)
        self.assertEqual(completed.returncode, 64)
        self.assertIn(b"--close-how", completed.stderr)


if __name__ == "__main__":
    unittest.main()
