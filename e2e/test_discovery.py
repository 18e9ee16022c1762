"""How tavrelo.exe reads Wine's real registry: the runtime it starts, the messages that end it, and how it
goes on after a failed search. (Which subkey qualifies, and every text, are the unit tests' to check.)"""

import shutil
import unittest

import harness
from test_launch import command

NOT_INSTALLED = ("You have not Installed Java Runtime Environment on your computer.\r\n"
                 "Download and install Java Runtime Environment Version 1.5 or higher version.\r\n"
                 "Please refer installtion guide of Tavrelo for further help")

setUpModule, tearDownModule = harness.module_session("discovery")


class DiscoveryTests(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.app = self.app_folder("Discovery", self._testMethodName)
        shutil.copy2(self.session.java, self.app.unix / "java.exe")  # plain "java" finds this one first
        self.other_view = "/reg:64" if self.prefix.view == "/reg:32" else "/reg:32"

    def test_no_runtime_in_the_launchers_registry_view_is_told_then_the_launcher_ends_at_once(self):
        old = self.runtime("Java Runtimes", "old")
        for case, registry in [("no runtime key", lambda: None), ("a runtime in the other registry view only",
                                                                  lambda: self.use_runtimes([("1.6", old.home)],
                                                                                            view=self.other_view))]:
            with self.subTest(case):
                registry()
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
        for case, registry, jre in [
                # Where the decimal separator is a comma, 1.5 still reads as 1.5, not as 1 or 15.
                ("1.5 with a decimal comma", lambda: self.use_runtimes([("1.5", jres["1.6"].home)]) or self.prefix.reg(
                    "add", *comma, ",", "/f"), jres["1.6"]),
                ("a home beyond ASCII, in the system code page", [("1.6", jres["äöü Rüntime été"].home)],
                 jres["äöü Rüntime été"]),
                ("a home longer than 1024 bytes, read by a second query", [("1.6", deep.home)], deep),
                ("a version name of 255 characters", [("1.6" + "x" * 252, jres["1.6"].home)], jres["1.6"]),
                ("an expandable home, unexpanded", lambda: self.use_runtimes([]) or self.prefix.reg(
                    "add", harness.JAVA_KEY + "\\1.6", "/v", "JavaHome", "/t", "REG_EXPAND_SZ", "/d", literal.home,
                    "/f"), literal)]:
            with self.subTest(case):
                self.prefix.reg("add", *comma, ".", "/f")
                registry() if callable(registry) else self.use_runtimes(registry)
                self.record_file.unlink(missing_ok=True)
                result, records = self.launch(self.app, env={"TAVRELO_JRE": "C:\\nowhere"})
                if jre is deep:  # read whole, as its support files are found (no copy), but no program starts
                    # that deep; the error is Wine's matter: 2 in Wine 8, 3 or 123 in Wine 10
                    failed = "The Java application could not be started.\r\n\r\nError "
                    self.assertEqual([box["text"][:len(failed)] for box in result.boxes], [failed], result.summary())
                    continue
                self.assertEqual([(r["command_line"], r["exe_path"].lower()) for r in records],
                                 [(command(f'"{jre.java}" ', self.app.win), jre.java.lower())], result.summary())
                self.assert_boxes(result, [])

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
