"""End-to-end tests of the serial-port support files: tavrelo.exe copies the
missing ones from C:\\orvane\\GsmModemJar into the chosen runtime, with real
files in Wine's drive C.

Run by hand:
    TAVRELO_WIN32_DIR=build/win32 /usr/bin/python3 e2e/run_module.py test_support_files -v
"""

import ctypes
import os
import select
import shutil
import stat
import subprocess
import unittest
from concurrent.futures import ThreadPoolExecutor

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

    def assert_copy_failure(self, result, *names):
        self.assertEqual(len(result.boxes), 2, result.summary())
        self.assertEqual(result.boxes[1]["text"], COPY_FAILED)
        for name in names:
            self.assertIn(name, result.boxes[0]["text"])
        for box in result.boxes:
            self.assertEqual((box["caption"], box["buttons"], box["icon"]), ("Tavrelo", ["OK"], False))

    def assert_all_whole(self):
        self.assertEqual(self.runtime_files(), {os.path.join(*relative.split("/")) for relative in ROWS})
        for relative in ROWS:
            source = self.support / relative.rsplit("/", 1)[1]
            self.assertEqual((self.jre.home_unix / relative).read_bytes(), source.read_bytes(), relative)

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
        self.assert_no_boxes(self.launch_and_expect_start())
        self.assert_all_whole()

    def test_lower_case_comm_jar_counts_as_present(self):
        self.put_in_runtime("lib/ext/comm.jar")
        for relative in ROWS[1:]:
            self.put_in_runtime(relative)
        result = self.launch_and_expect_start()
        self.assert_no_boxes(result)
        self.assertFalse((self.jre.home_unix / "lib" / "ext" / "Comm.jar").exists())
        self.assertEqual((self.jre.home_unix / "lib" / "ext" / "comm.jar").read_bytes(), b"already there\n")


class FailureTests(SupportFileCase):
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


class InterruptedCopyTests(SupportFileCase):
    """Whatever stops a copy, no support file is ever partial; the next run installs what is missing."""

    def put_comm_jar(self, content):
        os.unlink(self.support / "Comm.jar")
        (self.support / "Comm.jar").write_bytes(content)

    def hold_comm_jar(self, start):
        """Comm.jar's source as a FIFO: START, then what is written to the pipe returned till it is closed."""
        os.unlink(self.support / "Comm.jar")
        os.mkfifo(self.support / "Comm.jar")
        pipe = open(os.open(self.support / "Comm.jar", os.O_RDWR), "wb", buffering=0)  # a writer: no open waits
        self.addCleanup(pipe.close)
        pipe.write(start)
        return pipe

    def watch_comm_jar(self, inotify_events):
        """A descriptor that turns readable once the Comm.jar source sees one of INOTIFY_EVENTS."""
        libc = ctypes.CDLL(None)
        watch = libc.inotify_init1(os.O_CLOEXEC)
        self.addCleanup(os.close, watch)
        libc.inotify_add_watch(watch, os.fsencode(self.support / "Comm.jar"), inotify_events)
        return watch

    def assert_next_run_installs_all(self):
        self.record_file.unlink(missing_ok=True)
        self.assert_no_boxes(self.launch_and_expect_start())
        self.assert_all_whole()

    def test_a_volume_that_fills_up_mid_copy_keeps_no_partial_file(self):
        ext = self.jre.home_unix / "lib" / "ext"
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tavrelo-small", ext], check=True)
        self.addCleanup(subprocess.run, ["umount", ext], stderr=subprocess.DEVNULL)
        self.put_comm_jar(os.urandom(300_000))
        self.assert_copy_failure(self.launch_and_expect_start(), "Comm.jar", "Disk full.")
        self.assertEqual(self.runtime_files(), set(), "a partial file was left, or a later row was tried")
        subprocess.run(["umount", ext], check=True)
        self.assert_next_run_installs_all()

    def test_a_launcher_ended_mid_copy_leaves_only_its_partial_copy(self):
        self.hold_comm_jar(b"start of Comm.jar\n")
        partial = self.jre.home_unix / "lib" / "ext" / "Comm.jar.tavrelo-partial"
        # Ended (TerminateProcess, as by Task Manager) 0.5 s after its partial copy got data, waiting for the rest.
        result, records = self.launch(self.app, kill_when_file=partial)
        self.assertEqual(self.runtime_files(), {os.path.join("lib", "ext", partial.name)}, result.summary())
        self.assertEqual((result.killed, records, partial.read_bytes()), (True, [], b"start of Comm.jar\n"))
        self.put_comm_jar(b"whole Comm.jar\n")
        self.assert_next_run_installs_all()

    def test_two_launchers_at_once_both_start_the_runtime_with_whole_files(self):
        pool = ThreadPoolExecutor(2)
        self.addCleanup(pool.shutdown)
        pipe = self.hold_comm_jar(b"start of Comm.jar\n")
        launches, patience = [], 60 + 10 * self.session.program_start_seconds
        for events, what in ((0x1, "a first copy of Comm.jar"), (0x20, "a second copy of it, Comm.jar still missing")):
            watch = self.watch_comm_jar(events)  # IN_ACCESS, then IN_OPEN
            launches.append(pool.submit(self.launch, self.app, kill_on_record=False, timeout_ms=60000))
            self.assertTrue(select.select([watch], [], [], patience)[0], f"waited in vain for {what}")
        # Comm.jar still missing, the second one opened its source, and must wait for the first one's copy.
        self.assertFalse(self.record_file.exists(), "a runtime started while Comm.jar was half copied")
        pipe.write(b"rest of Comm.jar\n")
        pipe.close()
        for result, _ in (launch.result() for launch in launches):
            self.assertEqual((result.exit_code, result.boxes), (0, []), result.summary())
        self.assertEqual(len(harness.read_records(self.record_file)), 2)
        self.put_comm_jar(b"start of Comm.jar\nrest of Comm.jar\n")
        self.assert_all_whole()

    def test_a_source_that_cannot_be_read_leaves_nothing(self):
        # The opener's memory: it opens like a file, every read fails (EIO, page 0 is unmapped): "Not ready.".
        os.unlink(self.support / "Comm.jar")
        os.symlink("/proc/self/mem", self.support / "Comm.jar")
        self.assert_copy_failure(self.launch_and_expect_start(), "Comm.jar", "Not ready.")
        self.assertEqual(self.runtime_files(), set(), "a file was left, or a later row was tried")
        self.put_comm_jar(b"whole Comm.jar\n")
        self.assert_next_run_installs_all()


if __name__ == "__main__":
    unittest.main()
