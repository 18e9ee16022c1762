"""How tavrelo.exe reads Wine's real registry: the runtime it starts, the messages that end it, and how it
goes on after a failed search. (Which subkey qualifies, and every text, are the unit tests' to check.)"""

import shutil
import unittest

import harness
from test_launch import command

NOT_INSTALLED = ("You have not Installed Java Runtime Environment on your computer.\r\n"
                 "Download and install Java Runtime Environment Version 1.5 or higher version.\r\n"
                 "Please refer installtion guide of Tavrelo for further help")

# No program starts from a home that deep; which error says so is Wine's matter: 2 in Wine 8, 3 or 123 in Wine 10.
DEEP_START_FAILED = {f"The Java application could not be started.\r\n\r\nError {number}: {text}"
                     for number, text in [(2, "File not found."), (3, "Path not found."), (123, "Invalid name.")]}

setUpModule, tearDownModule = harness.module_session("discovery")


class DiscoveryTests(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.app = self.app_folder("Discovery", self._testMethodName)
        shutil.copy2(self.session.java, self.app.unix / "java.exe")  # plain "java" finds this one first
        self.other_view = "/reg:64" if self.prefix.view == "/reg:32" else "/reg:32"

    def test_a_runtime_in_the_other_registry_view_only_is_told_as_none_then_the_launcher_ends_at_once(self):
        self.use_runtimes([("1.6", self.runtime("Java Runtimes", "old").home)], view=self.other_view)
        result, records = self.launch(self.app, kill_on_record=False)
        self.assert_boxes(result, [NOT_INSTALLED])
        self.assertEqual((records, result.exit_code), ([], 3), result.summary())
        self.assertTrue(0 < result.exit_seconds_after(result.boxes[-1]["dismiss_time"]) < 1.0, result.summary())

    def test_the_runtime_is_started_as_its_java_home_names_it(self):
        jres = {name: self.runtime("Java Runtimes", name) for name in ("äöü Rüntime été", "1.6")}
        comma = (r"HKCU\Control Panel\International", "/v", "sDecimal", "/d")
        self.addCleanup(self.prefix.reg, "add", *comma, ".", "/f")
        literal = self.runtime("%TAVRELO_JRE%", "jre")  # TAVRELO_JRE names another folder: only unexpanded works
        deep = self.runtime("Java Runtimes", "deep", *[f"{i:02d}-" + "a-long-folder-name" * 5 for i in range(12)])
        self.assertGreater(len(deep.home.encode()), 1024)
        def decimal_comma():
            # Where the decimal separator is a comma, 1.5 still reads as 1.5, not as 1 or 15.
            self.use_runtimes([("1.5", jres["1.6"].home)])
            self.prefix.reg("add", *comma, ",", "/f")

        def expandable():
            self.use_runtimes([])
            self.prefix.reg("add", harness.JAVA_KEY + "\\1.6", "/v", "JavaHome", "/t", "REG_EXPAND_SZ", "/d",
                            literal.home, "/f")

        def runtime(name, jre):
            return lambda: self.use_runtimes([(name, jre.home)])
        for case, registry, jre in [
                ("1.5 with a decimal comma", decimal_comma, jres["1.6"]),
                ("a home beyond ASCII, in the system code page", runtime("1.6", jres["äöü Rüntime été"]),
                 jres["äöü Rüntime été"]),
                ("a version name of 255 characters", runtime("1.6" + "x" * 252, jres["1.6"]), jres["1.6"]),
                ("an expandable home, unexpanded", expandable, literal)]:
            with self.subTest(case):
                self.prefix.reg("add", *comma, ".", "/f")
                registry()
                self.record_file.unlink(missing_ok=True)
                result, records = self.launch(self.app, env={"TAVRELO_JRE": "C:\\nowhere"})
                self.assertEqual([(r["command_line"], r["exe_path"].lower()) for r in records],
                                 [(command(f'"{jre.java}" ', self.app.win), jre.java.lower())], result.summary())
                self.assert_boxes(result, [])
        # A home longer than 1024 bytes, read by a second query: read whole, as its support files are found
        # (no copy), and its program is the one that fails to start.
        self.use_runtimes([("1.6", deep.home)])
        self.record_file.unlink(missing_ok=True)
        result, records = self.launch(self.app)
        self.assertEqual((records, len(result.boxes)), ([], 1), result.summary())
        self.assertIn(result.boxes[0]["text"], DEEP_START_FAILED)

    def test_after_a_failed_search_plain_java_is_started(self):
        self.use_runtimes([("1.6", None)])
        result, records = self.launch(self.app)
        self.assert_boxes(result, ["Unsupported value type", "Error While Searching JVM on Your Machine"])
        self.assertEqual([(r["command_line"], r["exe_path"].lower()) for r in records],
                         [(command("java ", self.app.win), (self.app.win + "\\java.exe").lower())])
        # Each box waits for its OK: the second comes after the first is gone, and the runtime after both.
        self.assertGreaterEqual(result.boxes[1]["seen_ms"], result.boxes[0]["gone_ms"], result.summary())
        self.assertGreater(records[0]["start_time"], result.boxes[1]["seen_time"])


if __name__ == "__main__":
    unittest.main()
