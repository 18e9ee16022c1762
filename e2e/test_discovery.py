"""How tavrelo.exe finds the Java runtime in Wine's real registry: the runtime it starts, the messages
that end it, and how it goes on after a failed search."""

import shutil
import unittest

import harness
from test_launch import command

NOT_INSTALLED = ("You have not Installed Java Runtime Environment on your computer.\r\n"
                 "Download and install Java Runtime Environment Version 1.5 or higher version.\r\n"
                 "Please refer installtion guide of Tavrelo for further help")
TOO_OLD = "Java Runtime Environment version 1.5 or higher version is not avaiable"
SEARCH_FAILED = "Error While Searching JVM on Your Machine"
START_FAILED = "The Java application could not be started.\r\n\r\nError "

setUpModule, tearDownModule = harness.module_session("discovery")


class DiscoveryTests(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.app = self.app_folder("Discovery", self._testMethodName)
        # Plain "java" finds this one first, next to the launcher.
        shutil.copy2(self.session.java, self.app.unix / "java.exe")
        self.other_view = "/reg:64" if self.prefix.view == "/reg:32" else "/reg:32"

    def jre(self, name, **options):
        return self.runtime("Java Runtimes", f"{self._testMethodName}-{name}", **options)

    def set_java_home(self, version, reg_type, data):
        self.use_runtimes([])
        self.prefix.reg("add", f"{harness.JAVA_KEY}\\{version}", "/v", "JavaHome", "/t", reg_type, "/d", data, "/f")

    def launch_ending(self, **options):
        """A launch to its own end; every box answered after 0.3 s."""
        self.record_file.unlink(missing_ok=True)
        return self.launch(self.app, kill_on_record=False, **options)

    def test_no_runtime_or_none_recent_enough_is_told_then_the_launcher_ends_at_once(self):
        old = self.jre("old")
        cases = [("no runtime key", lambda: None, NOT_INSTALLED, 3),
                 ("a runtime in the other registry view only", lambda: self.use_runtimes(
                     [("1.6", old.home)], view=self.other_view), NOT_INSTALLED, 3),
                 ("1.3.1 and 1.4.2_08", lambda: self.use_runtimes([("1.3.1", old.home), ("1.4.2_08", old.home)]),
                  TOO_OLD, 4),
                 ("a key without subkeys", lambda: self.use_runtimes([]), TOO_OLD, 4)]
        for case, registry, text, exit_code in cases:
            with self.subTest(case):
                self.prefix.reg("delete", r"HKLM\SOFTWARE\JavaSoft", "/f", check=False)
                registry()
                result, records = self.launch_ending()
                self.assert_boxes(result, [text])
                self.assertEqual((records, result.exit_code), ([], exit_code), result.summary())
                self.assertTrue(0 < result.exit_seconds_after(result.boxes[-1]["dismiss_time"]) < 1.0, result.summary())
        # Where the decimal separator is a comma, 1.4 still reads as 1.4, not as 14 or 1.
        self.use_runtimes([("1.4", old.home), ("1.4.2_08", old.home)])
        international = (r"HKCU\Control Panel\International", "/v", "sDecimal", "/d")
        self.prefix.reg("add", *international, ",", "/f")
        self.addCleanup(self.prefix.reg, "add", *international, ".", "/f")
        result, _ = self.launch_ending(env={"LANG": "de_DE.UTF-8", "LC_ALL": "de_DE.UTF-8"})
        self.assert_boxes(result, [TOO_OLD])

    def test_the_first_runtime_of_1_5_or_later_is_started_as_its_java_home_names_it(self):
        jres = {name: self.jre(name) for name in ("142", "150", "16", "own", "other", "äöü Rüntime été", "bin")}
        literal = self.runtime("%TAVRELO_JRE%", self._testMethodName)
        deep = self.runtime("Java Runtimes", "deep", *[f"{i:02d}-" + "a-long-folder-name" * 5 for i in range(12)])
        self.assertGreater(len(deep.home.encode()), 1024)
        cases = [
            ("the first in the registry's order", [("1.4.2", jres["142"].home), ("1.5.0_06", jres["150"].home),
                                                  ("1.6", jres["16"].home)], jres["150"]),
            # The other view's 1.5 sorts first: it would win if the launcher read that view.
            ("its own registry view", lambda: self.use_runtimes([("1.6", jres["own"].home)]) or self.use_runtimes(
                [("1.5", jres["other"].home)], view=self.other_view), jres["own"]),
            ("a home beyond ASCII, in the system code page", [("1.6", jres["äöü Rüntime été"].home)],
             jres["äöü Rüntime été"]),
            ("a home longer than 1024 bytes, read by a second query", [("1.6", deep.home)], deep),
            ("a version name of 255 characters", [("1.6" + "x" * 252, jres["16"].home)], jres["16"]),
            ("after 400 older versions", [(f"1.4.{i:03d}", jres["142"].home) for i in range(400)]
             + [("1.6", jres["16"].home)], jres["16"]),
            # The variable points elsewhere: only the unexpanded path reaches the runtime.
            ("an expandable home, unexpanded", lambda: self.set_java_home("1.6", "REG_EXPAND_SZ", literal.home),
             literal),
            ("a binary home, read as UTF-16 (the odd last byte ignored)", lambda: self.set_java_home(
                "1.6", "REG_BINARY", (jres["bin"].home.encode("utf-16-le") + b"\0").hex()), jres["bin"]),
        ]
        for case, registry, jre in cases:
            with self.subTest(case):
                self.prefix.reg("delete", r"HKLM\SOFTWARE\JavaSoft", "/f", check=False, view=self.other_view)
                registry() if callable(registry) else self.use_runtimes(registry)
                self.record_file.unlink(missing_ok=True)
                result, records = self.launch(self.app, env={"TAVRELO_JRE": "C:\\nowhere"})
                if jre is deep:  # read whole, as its support files are found, but no program starts that deep
                    self.assertEqual([box["text"][:len(START_FAILED) + 3] for box in result.boxes], [START_FAILED + "2: "])
                    continue
                self.assertEqual(len(records), 1, result.summary())
                self.assertEqual(records[0]["command_line"], command(f'"{jre.java}" ', self.app.win))
                self.assertEqual(records[0]["exe_path"].lower(), jre.java.lower())
                self.assert_boxes(result, [])

    def test_after_a_failed_search_or_with_an_empty_java_home_plain_java_is_started(self):
        jre = self.jre("16")
        # "#Beta" comes before "1.6" in the registry's order.
        for case, versions, first_box in [("a version name that is no number", [("#Beta", jre.home), ("1.6", jre.home)],
                                           'Type mismatch: the Java runtime version "#Beta" in the registry does not '
                                           'begin with a version number.'),
                                          ("a version without JavaHome", [("1.6", None)], "Unsupported value type"),
                                          ("an empty JavaHome", [("1.6", "")], None)]:
            with self.subTest(case):
                self.use_runtimes(versions)
                self.record_file.unlink(missing_ok=True)
                result, records = self.launch(self.app)
                self.assert_boxes(result, [first_box, SEARCH_FAILED] if first_box else [])
                self.assertEqual(len(records), 1, result.summary())
                self.assertEqual(records[0]["command_line"], command("java ", self.app.win))
                self.assertEqual(records[0]["exe_path"].lower(), (self.app.win + "\\java.exe").lower())
                if first_box:  # each box after the other, and the runtime after both
                    self.assertGreaterEqual(result.boxes[1]["seen_ms"], result.boxes[0]["gone_ms"], result.summary())
                    self.assertGreater(records[0]["start_time"], result.boxes[1]["seen_time"])

    def test_a_java_home_that_names_no_runtime_is_told_after_the_copy_failure(self):
        jre = self.jre("jre")
        # Quoting a path with a quote in it would end the program's name early and hand the rest to Java.
        for case, reg_type, data, error in [("a number", "REG_DWORD", "1234", 2),
                                            ("a quote", "REG_SZ", jre.home + '" -jar C:\\evil.jar "', 123)]:
            with self.subTest(case):
                self.set_java_home("1.6", reg_type, data)
                result, records = self.launch_ending()
                texts = [box["text"] for box in result.boxes]
                self.assertEqual((records, len(texts), result.exit_code), ([], 3, 2), result.summary())
                self.assertTrue(texts[0].startswith('Could not copy "C:\\orvane\\GsmModemJar\\Comm.jar"'), texts[0])
                self.assert_boxes(result, [texts[0], "Error While Copying JAR File", texts[2]])
                self.assertTrue(texts[2].startswith(f"{START_FAILED}{error}: ") and "evil" not in texts[2], texts[2])
                self.assertTrue(0 < result.exit_seconds_after(result.boxes[-1]["dismiss_time"]) < 1.0, result.summary())


if __name__ == "__main__":
    unittest.main()
