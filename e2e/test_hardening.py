"""End-to-end tests of tavrelo.exe with bad and hostile input: unusual
application folders, odd "JavaHome" values and runtime keys, and the
executable's own version block as the system reads it.

Run by hand:
    TAVRELO_WIN32_DIR=build/win32 /usr/bin/python3 e2e/run_module.py test_hardening -v
"""

import subprocess
import time
import unittest

import harness
from harness import expected_command, runtime_program

START_FAILED = "The Java application could not be started."
EXIT_LAUNCHED, EXIT_START_FAILED = 0, 2
JAVA_KEY = harness.app.JAVA_KEY


setUpModule, tearDownModule = harness.module_session("hardening")


class HardeningCase(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.addCleanup(self.no_runtimes)

    def make_app(self, *parts):
        app = self.app_folder("Hardening", self._testMethodName, *parts)
        self.remove_later(self.prefix.drive_c / "Hardening" / self._testMethodName)
        return app

    def make_jre(self, *parts, **kwargs):
        jre = self.runtime("Hardening Runtimes", self._testMethodName, *parts, **kwargs)
        self.remove_later(self.prefix.drive_c / "Hardening Runtimes" / self._testMethodName)
        return jre

    def set_java_home(self, reg_type, data, version="1.6"):
        self.no_runtimes()
        self.prefix.reg("add", f"{JAVA_KEY}\\{version}", "/v", "JavaHome", "/t", reg_type, "/d", data, "/f")

    def assert_started(self, jre, app):
        result, records = self.launch(app)
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command(runtime_program(jre), app.win))
        self.assertEqual(record["exe_path"].lower(), jre.java.lower())
        self.assert_no_boxes(result)
        return record

    def assert_start_failure(self, app, error, copy_failure=False):
        """Nothing started, one start-failure box with ERROR (after the copy
        failure's two boxes when COPY_FAILURE), and an exit without linger."""
        result, records = self.launch(app, kill_on_record=False)
        self.assertEqual(records, [], "nothing may be started")
        boxes = [box["text"] for box in result.boxes]
        if copy_failure:
            self.assertEqual(len(boxes), 3, result.summary())
            self.assertTrue(boxes[0].startswith('Could not copy "C:\\orvane\\GsmModemJar\\Comm.jar"'), boxes[0])
            self.assertEqual(boxes[1], "Error While Copying JAR File")
            boxes = boxes[2:]
        self.assertEqual(len(boxes), 1, result.summary())
        text = boxes[0]
        self.assertTrue(text.startswith(START_FAILED + "\r\n\r\nError "), text)
        self.assertIn(f"Error {error}: ", text)
        self.assertEqual(result.exit_code, EXIT_START_FAILED, result.summary())
        # The process ends as the box's OK is pressed, without the 10 s linger.
        self.assertTrue(0 < result.exit_seconds_after(result.boxes[-1]["dismiss_time"]) < 1.0,
                        f"no linger after a failure; {result.summary()}")
        return text


class AppFolderTests(HardeningCase):
    def test_app_folder_deeper_than_260_characters(self):
        # No program can be started from such a folder through CreateProcess
        # (the driver's way), so the launcher is started by the Wine loader of
        # its bitness from the Unix side, as a shell would, and runs to its end
        # unwatched.
        jre = self.make_jre("jre")
        self.use_runtimes([("1.6", jre.home)])
        parts = [f"level {i:02d} of a deep application folder" for i in range(8)]
        app = self.make_app(*parts)
        self.assertGreater(len(app.win), 260)
        env = self.prefix.env({"TAVRELO_JAVA_RECORD": self.prefix.windows_path(self.record_file)})
        # Wine's output goes to a file, not a pipe: Wine's services inherit
        # it and outlive the program.
        output = self.scratch / "wine-output.txt"
        with open(output, "wb") as sink:
            completed = subprocess.run(self.session.command("tavrelo.exe"), cwd=app.unix, env=env,
                                       stdin=subprocess.DEVNULL, stdout=sink, stderr=sink,
                                       timeout=60 + 2 * self.session.program_start_seconds)
        ended = time.time()
        said = output.read_text(errors="replace")
        if "ShellExecuteEx failed" in said and not self.record_file.exists():
            # Wine 10 cannot open such a working folder for a 32-bit program
            # and hands the program to start.exe, which does not find it,
            # whether it is named by its name or its full Unix or Windows
            # path: the launcher never ran. Wine 8, and Wine 10 for x86_64,
            # start it.
            self.skipTest("this Wine cannot start a 32-bit program from a folder deeper than 260 characters: "
                          + " ".join(said.split())[-300:])
        self.assertEqual(completed.returncode, EXIT_LAUNCHED)
        records = harness.read_records(self.record_file)
        self.assertEqual(len(records), 1)
        # It lingered its ten seconds after starting the runtime.
        self.assertGreater(ended - harness.unix_time(records[0]["start_time"]), 9.8)
        self.assertEqual(records[0]["command_line"], expected_command(runtime_program(jre), app.win))
        # A working folder must be shorter than 260 characters: the child gets
        # the short form of the application folder, not the Windows folder.
        folder = records[0]["current_directory"]
        self.assertLess(len(folder), 260, folder)
        self.assertTrue(folder.upper().startswith("C:\\HARD"), folder)
        self.assertEqual(folder.count("\\"), app.win.count("\\"), folder)


class JavaHomeValueTests(HardeningCase):
    def test_non_ascii_java_home_in_the_system_code_page(self):
        jre = self.make_jre("J\u00e4v\u00e4 R\u00fcntime \u00e9t\u00e9")
        self.use_runtimes([("1.6", jre.home)])
        self.assert_started(jre, self.make_app())

    def test_java_home_longer_than_1024_bytes(self):
        parts = [f"{i:02d}-" + "a-long-folder-name" * 5 for i in range(12)]
        jre = self.make_jre(*parts)
        self.assertGreater(len(jre.home.encode()), 1024)
        self.use_runtimes([("1.6", jre.home)])
        # Read whole through the second, larger registry query; whether the
        # system then starts a program under such a long path is its own
        # matter: the outcome is the runtime or the start-failure message.
        app = self.make_app()
        result, records = self.launch(app, kill_on_record=False, timeout_ms=40000)
        if records:
            self.assertEqual(records[0]["command_line"], expected_command(runtime_program(jre), app.win))
            self.assertEqual(result.exit_code, EXIT_LAUNCHED)
        else:
            self.assertEqual(len(result.boxes), 1, result.summary())
            self.assertTrue(result.boxes[0]["text"].startswith(START_FAILED))
            self.assertEqual(result.exit_code, EXIT_START_FAILED)

    def test_dword_java_home_is_taken_as_its_digits(self):
        # "1234" is no runtime folder: the support files cannot be copied
        # into it and "1234\bin\java.exe" does not exist.
        self.set_java_home("REG_DWORD", "1234")
        self.assert_start_failure(self.make_app(), 2, copy_failure=True)

    def test_binary_java_home_is_read_as_utf16(self):
        jre = self.make_jre("jre bin")
        data = jre.home.encode("utf-16-le") + b"\x00"  # odd trailing byte is ignored
        self.set_java_home("REG_BINARY", data.hex())
        self.assert_started(jre, self.make_app())

    def test_java_home_with_a_quote_is_refused(self):
        # Quoting this path would end the program name early and hand the
        # rest to the runtime as options.
        jre = self.make_jre("jre")
        self.set_java_home("REG_SZ", jre.home + '" -jar C:\\evil.jar "')
        text = self.assert_start_failure(self.make_app(), 123, copy_failure=True)
        self.assertNotIn("evil", text)


class RuntimeKeyTests(HardeningCase):
    def test_subkey_name_of_255_characters(self):
        jre = self.make_jre("jre")
        name = "1.6" + "x" * 252
        self.use_runtimes([(name, jre.home)])
        self.assert_started(jre, self.make_app())

    def test_hundreds_of_subkeys(self):
        old = self.make_jre("old")
        jre = self.make_jre("new")
        versions = [(f"1.4.{i:03d}", old.home) for i in range(400)] + [("1.6", jre.home)]
        self.use_runtimes(versions)
        self.assert_started(jre, self.make_app())


class VersionBlockTests(HardeningCase):
    def test_version_block_reads_back_through_the_version_api(self):
        reader = self.session.config.exe.parent.parent / "checks" / "tools" / "version_reader.exe"
        completed = harness.wine.run_detached(self.session.command(reader, self.session.config.exe),
                                              self.prefix.env(), 60)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        output = completed.stdout.decode()
        values = dict(line.split("=", 1) for line in output.splitlines() if "=" in line)
        self.assertEqual(values.get("FixedFileVersion"), "1.0.0.0", output)
        self.assertEqual(values.get("FixedProductVersion"), "1.0.0.0", output)
        self.assertEqual(values.get("Translation"), "040904B0", output)
        self.assertEqual(values.get("FileVersion"), "1.00", output)
        self.assertEqual(values.get("ProductVersion"), "1.00", output)


if __name__ == "__main__":
    unittest.main()
