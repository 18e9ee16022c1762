"""The serial-port support files in Wine's real file system: tavrelo.exe copies the missing ones from
C:\\orvane\\GsmModemJar into the chosen runtime, and whatever stops a copy leaves no file partial."""

import ctypes
import os
import select
import shutil
import subprocess
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

import harness
from test_launch import command

ROWS = harness.SUPPORT_FILES
COPY_FAILED = "Error While Copying JAR File"

setUpModule, tearDownModule = harness.module_session("files")


class SupportFileTests(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.support = self.prefix.drive_c.joinpath(*harness.SUPPORT_FOLDER)
        self.addCleanup(shutil.rmtree, self.support.parent)
        self.jre = self.runtime("Program Files", "Java Support", self._testMethodName, support_files=False)
        self.use_runtimes([("1.6", self.jre.home)])
        self.app = self.app_folder("Support Test", self._testMethodName)
        self.reset()

    def reset(self):
        """The four sources, each with contents of its own, so that a copy into the wrong place shows, and
        a runtime without them."""
        subprocess.run(["umount", self.jre.home_unix / "lib" / "ext"], stderr=subprocess.DEVNULL)  # a fault's volume
        shutil.rmtree(self.support, ignore_errors=True)
        self.support.mkdir(parents=True)
        for name in map(os.path.basename, ROWS):
            (self.support / name).write_bytes(f"support copy of {name}\n".encode() + bytes(range(256)))
        shutil.rmtree(self.jre.home_unix / "lib", ignore_errors=True)
        (self.jre.home_unix / "bin" / "Win32com.dll").unlink(missing_ok=True)
        (self.jre.home_unix / "lib" / "ext").mkdir(parents=True)

    def runtime_files(self):
        """The runtime's files but java.exe, relative to its home, with their contents."""
        return {os.path.relpath(os.path.join(folder, name), self.jre.home_unix).replace(os.sep, "/"):
                open(os.path.join(folder, name), "rb").read()
                for folder, _, names in os.walk(self.jre.home_unix) for name in names if name != "java.exe"}

    def copied(self, *rows):
        return {row: (self.support / os.path.basename(row)).read_bytes() for row in rows}

    def launch_and_start(self, reason=None, **options):
        """A launch that starts the runtime, with the boxes of a failed copy of Comm.jar if REASON is given."""
        self.record_file.unlink(missing_ok=True)
        result, records = self.launch(self.app, **options)
        self.assertEqual([r["command_line"] for r in records], [command(f'"{self.jre.java}" ', self.app.win)])
        failed = (f'Could not copy "C:\\orvane\\GsmModemJar\\Comm.jar" to "{self.jre.home}\\lib\\ext\\Comm.jar".'
                  f"\r\n\r\n{reason}")
        self.assert_boxes(result, [failed, COPY_FAILED] if reason else [])
        return result

    def test_the_missing_files_are_copied_and_present_ones_left_alone(self):
        # Comm.jar is looked for with a capital C, yet comm.jar counts as there; a file there needs no source.
        lower = {"lib/ext/comm.jar": b"lower case\n", **dict.fromkeys(ROWS[1:], b"already there\n")}
        # Another program reading a source, as the launcher reads it, lets it be read.
        held = {"hold_file": self.support / "Comm.jar", "hold_how": "read"}
        for case, present, copied, options in [("all missing", {}, ROWS, {}),
                                               ("comm.jar in lower case, the rest there", lower, (), {}),
                                               ("all missing, Comm.jar's source open in another program", {}, ROWS,
                                                held)]:
            with self.subTest(case):
                self.reset()
                for relative in set(ROWS) - set(copied):
                    (self.support / os.path.basename(relative)).unlink()
                for relative, content in present.items():
                    (self.jre.home_unix / relative).write_bytes(content)
                self.launch_and_start(**options)
                self.assertEqual(self.runtime_files(), {**present, **self.copied(*copied)})

    def assert_next_run_installs_all(self):
        (self.support / "Comm.jar").unlink()
        (self.support / "Comm.jar").write_bytes(b"whole Comm.jar\n")
        self.launch_and_start()
        self.assertEqual(self.runtime_files(), self.copied(*ROWS))

    def test_a_failed_copy_is_told_leaves_nothing_and_the_launch_goes_on(self):
        ext = self.jre.home_unix / "lib" / "ext"
        source = self.support / "Comm.jar"

        def mount(*how):
            subprocess.run(["mount", *how, ext], check=True)
            self.addCleanup(subprocess.run, ["umount", ext], stderr=subprocess.DEVNULL)

        def unreadable():
            # The reader's own memory: it opens like a file, and every read fails (page 0 is unmapped).
            source.unlink()
            os.symlink("/proc/self/mem", source)
        written = {"hold_file": source, "hold_how": "write"}
        for case, fault, reason, options in [
                ("a source missing", source.unlink, "File not found.", {}),
                ("the runtime's lib folder missing", lambda: shutil.rmtree(ext.parent), "Path not found.", {}),
                ("a volume that fills up", lambda: mount("-t", "tmpfs", "-o", "size=64k", "tiny"), "Disk full.", {}),
                ("a read-only one", lambda: mount("--bind", "-o", "ro", self.session.scratch("ro")), "Access denied.",
                 {}),
                ("a source that cannot be read", unreadable, "Not ready.", {}),
                ("a source that another program is writing", lambda: None, "Sharing violation.", written)]:
            with self.subTest(case):
                self.reset()
                source.write_bytes(os.urandom(300_000))
                fault()
                self.launch_and_start(reason, **options)
                self.assertEqual(self.runtime_files(), {}, "a partial file was left, a folder made or a row tried")
        self.assert_next_run_installs_all()

    def hold_comm_jar(self):
        """Comm.jar's source as a FIFO that gives its start and then holds its reader: write the rest and
        close it to let go."""
        (self.support / "Comm.jar").unlink()
        os.mkfifo(self.support / "Comm.jar")
        pipe = open(os.open(self.support / "Comm.jar", os.O_RDWR), "wb", buffering=0)  # a writer: no open waits
        self.addCleanup(pipe.close)
        pipe.write(b"start of Comm.jar\n")
        return pipe

    def test_a_launcher_ended_mid_copy_leaves_only_its_partial_copy(self):
        self.hold_comm_jar()
        partial = self.jre.home_unix / "lib" / "ext" / "Comm.jar.tavrelo-partial"
        # Ended (TerminateProcess, as by Task Manager) 0.5 s after its partial copy got data.
        result, records = self.launch(self.app, kill_when_file=partial)
        self.assertEqual((result.killed, records), (True, []), result.summary())
        self.assertEqual(self.runtime_files(), {"lib/ext/Comm.jar.tavrelo-partial": b"start of Comm.jar\n"})
        self.assert_next_run_installs_all()

    def test_two_launchers_at_once_both_start_the_runtime_with_whole_files(self):
        pool = ThreadPoolExecutor(2)
        self.addCleanup(pool.shutdown)
        pipe = self.hold_comm_jar()
        libc = ctypes.CDLL(None)
        launches = []
        for event, what in ((0x1, "a first copy of Comm.jar"), (0x20, "a second one")):  # IN_ACCESS, IN_OPEN
            watch = libc.inotify_init1(os.O_CLOEXEC)
            self.addCleanup(os.close, watch)
            libc.inotify_add_watch(watch, os.fsencode(self.support / "Comm.jar"), event)
            launches.append(pool.submit(self.launch, self.app, kill_on_record=False, timeout_ms=60000))
            patience = 60 + 10 * self.session.program_start_seconds
            self.assertTrue(select.select([watch], [], [], patience)[0], f"waited in vain for {what}")
        # The second one opened the source while Comm.jar is still missing: it waits for the first's copy, 2 s here.
        time.sleep(2)
        self.assertFalse(self.record_file.exists(), "a runtime started while Comm.jar was half copied")
        pipe.write(b"rest of Comm.jar\n")
        pipe.close()
        for result, _ in (launch.result() for launch in launches):
            self.assertEqual((result.exit_code, result.boxes), (0, []), result.summary())
        self.assertEqual(len(harness.read_records(self.record_file)), 2)
        whole = b"start of Comm.jar\nrest of Comm.jar\n"
        self.assertEqual(self.runtime_files(), {**self.copied(*ROWS[1:]), ROWS[0]: whole})


if __name__ == "__main__":
    unittest.main()
