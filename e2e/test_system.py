"""tavrelo.exe on the system under Wine: the libraries it loads, the DLL search where Windows XP lacks
SetDefaultDllDirectories, and an application folder deeper than 260 characters."""

import ntpath
import shutil
import subprocess
import unittest

import harness
from test_launch import LaunchCase, command

# System libraries a window with a picture could load, each built as a marker DLL of the launcher's
# bitness; the overrides make Wine take a DLL of these names from the search path first, as Windows does.
MARKERS = ("gdiplus", "ole32", "oleaut32", "uxtheme", "dwmapi", "msimg32", "propsys", "shcore", "shlwapi", "winmm",
           "cryptbase", "windowscodecs")
OVERRIDES = ",".join(MARKERS) + "=n,b"

setUpModule, tearDownModule = harness.module_session("system")


class SystemTests(LaunchCase):
    def test_no_library_is_taken_from_the_application_or_the_working_folder(self):
        app = self.app_folder("Dll App")
        cwd = self.session.scratch("Dll Working Folder")
        for folder in (app.unix, cwd):
            for name in MARKERS:
                shutil.copy2(self.session.tools / "markers" / f"{name}.dll", folder)
        markers = self.scratch / "markers.jsonl"
        env = {"TAVRELO_MARKER_FILE": self.prefix.windows_path(markers)}
        # The control: a program in that folder that loads each by name gets the planted one.
        shutil.copy2(self.session.java, app.unix / "control.exe")
        self.prefix.run([app.win + "\\control.exe"], bitness=self.session.bitness,
                        env=self.prefix.env({**env, "TAVRELO_JAVA_LOAD_LIBRARY": ";".join(MARKERS)}, OVERRIDES))
        self.assertEqual(len(harness.read_records(markers)), len(MARKERS))
        markers.unlink()
        result, records = self.launch(app, cwd=self.prefix.windows_path(cwd), env=env, dll_overrides=OVERRIDES)
        self.assertEqual([ntpath.basename(line["module"]) for line in harness.read_records(markers)], [])
        self.assert_launched(app, result, records)

    def test_without_set_default_dll_directories_as_on_xp_the_working_folder_leaves_the_dll_search(self):
        # The stand-in restricts the search as the launcher does, then loads a DLL planted in its working
        # folder by a bare name that no system DLL has.
        work = self.session.scratch("Dll Work")
        shutil.copy2(self.session.tools / "markers" / "winmm.dll", work / "tavrelo-planted.dll")
        for restrict, loaded in [("", self.prefix.windows_path(work) + "\\tavrelo-planted.dll"), ("fallback", ""),
                                 ("full", "")]:
            env = {"TAVRELO_JAVA_RECORD": self.prefix.windows_path(self.record_file), "TAVRELO_JAVA_RESTRICT": restrict,
                   "TAVRELO_JAVA_LOAD_LIBRARY": "tavrelo-planted.dll"}
            self.prefix.run([self.jre.java], bitness=self.session.bitness, env=self.prefix.env(env), cwd=work)
            got = [path.lower() for path in harness.read_records(self.record_file)[-1]["loaded"]]
            self.assertEqual(got, [loaded.lower()], restrict or "none")

    def test_an_application_folder_deeper_than_260_characters(self):
        # CreateProcess cannot start a program that deep: it is started by the Wine loader, as a shell would.
        app = self.app_folder("Deep", *[f"level {i:02d} of a deep application folder" for i in range(8)])
        self.assertGreater(len(app.win), 260)
        # The control: whether this Wine starts any program of this bitness that deep (Wine 10's 32-bit
        # loader does not: it fails or hangs), shown by the stand-in started the same way from the same folder.
        shutil.copy2(self.session.java, app.unix / "control.exe")
        control = {"TAVRELO_JAVA_RECORD": self.prefix.windows_path(self.scratch / "control.jsonl")}
        try:
            harness.run_detached(self.session.command("control.exe"), self.prefix.env(control), 30, cwd=app.unix)
        except subprocess.TimeoutExpired:
            pass
        if not (self.scratch / "control.jsonl").exists():
            self.skipTest(f"this Wine cannot start a {self.session.bitness} program that deep: the stand-in did not")
        env = self.prefix.env({"TAVRELO_JAVA_RECORD": self.prefix.windows_path(self.record_file)})
        try:
            done = harness.run_detached(self.session.command("tavrelo.exe"), env, 60, cwd=app.unix)
        except subprocess.TimeoutExpired:
            self.fail(f"the launcher did not end within 60 s; records: {harness.read_records(self.record_file)}")
        said = " ".join(done.stderr.decode(errors="replace").split())
        records = harness.read_records(self.record_file)
        self.assertEqual(len(records), 1, f"exit {done.returncode}; Wine said: {said[-600:]}")
        [record] = records
        self.assertEqual((done.returncode, record["command_line"]), (0, command(f'"{self.jre.java}" ', app.win)))
        # A working folder must be shorter than 260 characters: the short form of the same folder.
        folder = record["current_directory"]
        self.assertTrue(len(folder) < 260 and folder.upper().startswith("C:\\DEEP\\"), folder)
        self.assertEqual(folder.count("\\"), app.win.count("\\"), folder)


if __name__ == "__main__":
    unittest.main()
