"""End-to-end tests of the serial-port support files: tavrelo.exe copies the
missing ones from C:\\orvane\\GsmModemJar into the chosen runtime, with real
files in Wine's drive C.

Run by hand:
    TAVRELO_WIN32_DIR=build/win32 /usr/bin/python3 e2e/run_module.py test_support_files -v
"""

import os
import shutil
import stat
import unittest

import harness
from harness import expected_command, runtime_program

COPY_FAILED = "Error While Copying JAR File"
# Runtime-relative path of each support file, in the order they are checked.
ROWS = harness.app.SUPPORT_FILES


setUpModule, tearDownModule = harness.module_session("support_files")


class SupportFileCase(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.support = self.prefix.drive_c.joinpath(*harness.app.SUPPORT_FOLDER)
        shutil.rmtree(self.support.parent, ignore_errors=True)
        self.support.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, self.support.parent, True)
        # Distinct contents per file, so a copy into the wrong place shows.
        for relative in ROWS:
            name = relative.rsplit("/", 1)[1]
            (self.support / name).write_bytes(f"support copy of {name}\n".encode() + bytes(range(256)))
        self.jre = self.runtime("Program Files", "Java Support", self._testMethodName, support_files=False)
        (self.jre.home_unix / "lib" / "ext").mkdir(parents=True)
        self.use_runtimes([("1.6", self.jre.home)])
        self.addCleanup(self.no_runtimes)
        self.app = self.app_folder("Support Test", self._testMethodName)
        self.remove_later(self.app.unix)

    def put_in_runtime(self, relative, content=b"already there\n"):
        path = self.jre.home_unix / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        return path

    def runtime_files(self):
        """Runtime-relative paths of every file in the runtime but java.exe."""
        found = set()
        for folder, _, files in os.walk(self.jre.home_unix):
            for name in files:
                relative = os.path.relpath(os.path.join(folder, name), self.jre.home_unix)
                if relative != os.path.join("bin", "java.exe"):
                    found.add(relative)
        return found

    def launch_and_expect_start(self):
        result, records = self.launch(self.app)
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command(runtime_program(self.jre), self.app.win))
        return result


class CopyTests(SupportFileCase):
    def test_all_present_copies_nothing_and_shows_nothing(self):
        # One of them read-only: a copy over it would fail with a message.
        paths = [self.put_in_runtime(relative) for relative in ROWS]
        os.chmod(paths[2], stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        self.addCleanup(os.chmod, paths[2], stat.S_IRUSR | stat.S_IWUSR)
        before = [(p.read_bytes(), p.stat().st_mtime_ns) for p in paths]
        result = self.launch_and_expect_start()
        self.assert_no_boxes(result)
        self.assertEqual([(p.read_bytes(), p.stat().st_mtime_ns) for p in paths], before)
        self.assertFalse(paths[2].stat().st_mode & stat.S_IWUSR)

    def test_only_the_missing_dll_is_copied_byte_for_byte(self):
        for relative in ("lib/ext/Comm.jar", "lib/javax.comm.properties", "lib/ext/jdc.jar"):
            self.put_in_runtime(relative)
        result = self.launch_and_expect_start()
        self.assert_no_boxes(result)
        copied = self.jre.home_unix / "bin" / "Win32com.dll"
        self.assertEqual(copied.read_bytes(), (self.support / "Win32com.dll").read_bytes())
        self.assertEqual(self.runtime_files(), {os.path.join(*r.split("/")) for r in ROWS})
        for relative in ("lib/ext/Comm.jar", "lib/javax.comm.properties", "lib/ext/jdc.jar"):
            self.assertEqual((self.jre.home_unix / relative).read_bytes(), b"already there\n")

    def test_all_missing_are_copied_into_their_folders(self):
        result = self.launch_and_expect_start()
        self.assert_no_boxes(result)
        for relative in ROWS:
            name = relative.rsplit("/", 1)[1]
            self.assertEqual((self.jre.home_unix / relative).read_bytes(), (self.support / name).read_bytes())

    def test_lower_case_comm_jar_counts_as_present(self):
        self.put_in_runtime("lib/ext/comm.jar")
        for relative in ROWS[1:]:
            self.put_in_runtime(relative)
        result = self.launch_and_expect_start()
        self.assert_no_boxes(result)
        self.assertFalse((self.jre.home_unix / "lib" / "ext" / "Comm.jar").exists())
        self.assertEqual((self.jre.home_unix / "lib" / "ext" / "comm.jar").read_bytes(), b"already there\n")


class FailureTests(SupportFileCase):
    def assert_copy_failure(self, result, *names):
        self.assertEqual(len(result.boxes), 2, result.summary())
        self.assertEqual(result.boxes[1]["text"], COPY_FAILED)
        for name in names:
            self.assertIn(name, result.boxes[0]["text"])
        for box in result.boxes:
            self.assertEqual((box["caption"], box["buttons"], box["icon"]), ("Tavrelo", ["OK"], False))

    def test_missing_source_of_the_first_row_stops_all_copies(self):
        (self.support / "Comm.jar").unlink()
        result = self.launch_and_expect_start()
        self.assert_copy_failure(result, "Comm.jar")
        self.assertEqual(self.runtime_files(), set(), "no row after the failing one may be copied")

    def test_missing_ext_folder_is_reported_not_created(self):
        shutil.rmtree(self.jre.home_unix / "lib")
        result = self.launch_and_expect_start()
        self.assert_copy_failure(result, "Comm.jar")
        self.assertFalse((self.jre.home_unix / "lib").exists())
        self.assertEqual(self.runtime_files(), set())

    def test_failure_in_a_later_row_keeps_the_earlier_copies(self):
        (self.support / "Win32com.dll").unlink()
        result = self.launch_and_expect_start()
        self.assert_copy_failure(result, "Win32com.dll")
        self.assertEqual(self.runtime_files(),
                         {os.path.join("lib", "ext", "Comm.jar"), os.path.join("lib", "javax.comm.properties")})


if __name__ == "__main__":
    unittest.main()
