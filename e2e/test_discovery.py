"""End-to-end tests of how tavrelo.exe finds the Java runtime in Wine's real
registry: which runtime it chooses, the messages it shows when there is none,
and how it goes on after a failed search.

Run by hand:
    TAVRELO_WIN32_DIR=build/win32 /usr/bin/python3 e2e/run_module.py test_discovery -v
"""

import unittest

import harness
from harness import expected_command, runtime_program

NOT_INSTALLED = ("You have not Installed Java Runtime Environment on your computer.\r\n"
                 "Download and install Java Runtime Environment Version 1.5 or higher version.\r\n"
                 "Please refer installtion guide of Tavrelo for further help")
TOO_OLD = "Java Runtime Environment version 1.5 or higher version is not avaiable"
SEARCH_FAILED = "Error While Searching JVM on Your Machine"
UNSUPPORTED = "Unsupported value type"

EXIT_LAUNCHED, EXIT_NOT_INSTALLED, EXIT_TOO_OLD = 0, 3, 4


setUpModule, tearDownModule = harness.module_session("discovery")


class DiscoveryCase(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.app = self.app_folder("Discovery", self._testMethodName)
        self.remove_later(self.app.unix)
        self.addCleanup(self.no_runtimes)

    def make_jre(self, name, **kwargs):
        return self.runtime("Java Runtimes", f"{self._testMethodName}-{name}", **kwargs)

    def search_path_java(self):
        """A stand-in java.exe where the search for plain "java" finds it
        first: next to the launcher."""
        harness.plant_standin(self.session, self.app.unix / "java.exe")

    def assert_boxes(self, result, texts):
        """Exactly these boxes, in order, each a plain OK box titled
        Tavrelo that was still open when the driver answered it."""
        self.assertEqual([box["text"] for box in result.boxes], texts, result.summary())
        for box in result.boxes:
            self.assertEqual(box["caption"], "Tavrelo")
            self.assertEqual(box["buttons"], ["OK"], box)
            self.assertFalse(box["icon"], box)
            self.assertTrue(box["owner_null"], box)
            self.assertGreaterEqual(box["dismiss_ms"], 0, box)

    def assert_ends_with_message(self, texts, exit_code, **launch_options):
        result, records = self.launch(self.app, kill_on_record=False, **launch_options)
        self.assert_boxes(result, texts)
        self.assertEqual(records, [], "nothing may be started")
        self.assertEqual(result.exit_code, exit_code, result.summary())
        # The process ends as the box's OK is pressed, without the 10 s linger.
        self.assertTrue(0 < result.exit_seconds_after(result.boxes[-1]["dismiss_time"]) < 1.0, result.summary())
        return result


class NoSuitableRuntimeTests(DiscoveryCase):
    def test_no_runtime_key_shows_the_three_line_message_and_ends(self):
        self.no_runtimes()
        self.assert_ends_with_message([NOT_INSTALLED], EXIT_NOT_INSTALLED)

    def test_only_old_runtimes_show_the_too_old_message(self):
        old = self.make_jre("old")
        self.use_runtimes([("1.3.1", old.home), ("1.4.2_08", old.home)])
        self.assert_ends_with_message([TOO_OLD], EXIT_TOO_OLD)

    def test_key_without_subkeys_is_too_old(self):
        self.use_runtimes([])
        self.assert_ends_with_message([TOO_OLD], EXIT_TOO_OLD)

    def test_decimal_comma_locale_does_not_turn_1_4_into_14(self):
        old = self.make_jre("old")
        self.use_runtimes([("1.4", old.home), ("1.4.2_08", old.home)])
        self.prefix.reg("add", r"HKCU\Control Panel\International", "/v", "sDecimal", "/d", ",", "/f")
        self.addCleanup(self.prefix.reg, "add", r"HKCU\Control Panel\International", "/v", "sDecimal",
                        "/d", ".", "/f")
        self.assert_ends_with_message([TOO_OLD], EXIT_TOO_OLD, env={"LANG": "de_DE.UTF-8", "LC_ALL": "de_DE.UTF-8"})


class ChoiceTests(DiscoveryCase):
    def test_first_runtime_of_1_5_or_later_in_registry_order_wins(self):
        jre142, jre150, jre16 = (self.make_jre(n) for n in ("142", "150", "16"))
        self.use_runtimes([("1.4.2", jre142.home), ("1.5.0_06", jre150.home), ("1.6", jre16.home)])
        result, records = self.launch(self.app)
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command(runtime_program(jre150), self.app.win))
        self.assertEqual(record["exe_path"].lower(), jre150.java.lower())
        self.assert_no_boxes(result)

    def test_expandable_java_home_is_used_unexpanded(self):
        # A folder literally named %TAVRELO_JRE% holds the runtime, while the
        # variable itself points somewhere else: only the unexpanded path
        # reaches that java.exe.
        literal = self.prefix.drive_c / "%TAVRELO_JRE%" / self._testMethodName
        jre = harness.make_runtime(self.session, literal)
        self.remove_later(literal.parent)
        home = "C:\\%TAVRELO_JRE%\\" + self._testMethodName
        self.prefix.reg("add", harness.app.JAVA_KEY + "\\1.6", "/v", "JavaHome", "/t", "REG_EXPAND_SZ",
                        "/d", home, "/f")
        result, records = self.launch(self.app, env={"TAVRELO_JRE": "C:\\nowhere"})
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command(f'"{home}\\bin\\java.exe" ', self.app.win))
        self.assertEqual(record["exe_path"].lower(), jre.java.lower())
        self.assert_no_boxes(result)


class RegistryViewTests(DiscoveryCase):
    """On 64-bit Windows the launcher reads the registry view of its own
    bitness: the i686 build sees the 32-bit view (WOW6432Node) and so only
    32-bit runtimes, the x86_64 build the 64-bit view."""

    def other_view(self):
        return "/reg:64" if self.prefix.view == "/reg:32" else "/reg:32"

    def register_in(self, view, versions):
        harness.set_java_runtimes(self.session, versions, view=view)
        self.addCleanup(harness.clear_java_runtimes, self.session, view)

    def test_runtime_registered_only_in_the_other_view_is_not_installed(self):
        jre = self.make_jre("other-view")
        self.no_runtimes()
        self.register_in(self.other_view(), [("1.6", jre.home)])
        # The import landed in the view it named, and only there.
        key = harness.app.JAVA_KEY + "\\1.6"
        self.assertTrue(self.prefix.reg_has_key(key, view=self.other_view()))
        self.assertFalse(self.prefix.reg_has_key(key))
        self.assert_ends_with_message([NOT_INSTALLED], EXIT_NOT_INSTALLED)

    def test_runtime_in_its_own_view_is_the_one_started(self):
        own, other = self.make_jre("own-view"), self.make_jre("other-view")
        self.use_runtimes([("1.6", own.home)])
        # Sorts first, so it would win if the launcher read that view.
        self.register_in(self.other_view(), [("1.5", other.home)])
        result, records = self.launch(self.app)
        record = self.assert_single_start(records, result)
        self.assertEqual(record["exe_path"].lower(), own.java.lower())
        self.assert_no_boxes(result)


class FailedSearchTests(DiscoveryCase):
    """A failure while searching is reported in two boxes; the launch then
    goes on through plain "java" from the search path."""

    def assert_fallback(self, first_box_check):
        self.search_path_java()
        result, records = self.launch(self.app)
        self.assertEqual(len(result.boxes), 2, result.summary())
        first_box_check(result.boxes[0]["text"])
        self.assert_boxes(result, [result.boxes[0]["text"], SEARCH_FAILED])
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command("java ", self.app.win))
        self.assertEqual(record["exe_path"].lower(), (self.app.win + "\\java.exe").lower())
        # The second box came after the first was gone, and the runtime only
        # after both.
        self.assertGreaterEqual(result.boxes[1]["seen_ms"], result.boxes[0]["gone_ms"], result.summary())
        self.assertGreater(record["start_time"], result.boxes[1]["seen_time"])

    def test_non_numeric_subkey_met_first(self):
        jre = self.make_jre("16")
        # "#Beta" sorts before "1.6" in the registry's order.
        self.use_runtimes([("#Beta", jre.home), ("1.6", jre.home)])
        self.assert_fallback(lambda text: self.assertIn('"#Beta"', text))

    def test_qualifying_subkey_without_java_home(self):
        self.use_runtimes([("1.6", None)])
        self.assert_fallback(lambda text: self.assertEqual(text, UNSUPPORTED))


if __name__ == "__main__":
    unittest.main()
