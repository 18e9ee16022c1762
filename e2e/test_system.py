"""tavrelo.exe on the system under Wine: the libraries it loads, Windows XP, an application folder deeper
than 260 characters, and the exe as users get it, signed with Authenticode."""

import json
import ntpath
import shutil
import subprocess
import time
import unittest

import harness
from test_launch import command

# System libraries a window with a picture could load, each built as a marker DLL of the launcher's
# bitness; the overrides make Wine take a DLL of these names from the search path first, as Windows does.
MARKERS = ("gdiplus", "ole32", "oleaut32", "uxtheme", "dwmapi", "msimg32", "propsys", "shcore", "shlwapi", "winmm",
           "cryptbase", "windowscodecs")
OVERRIDES = ",".join(MARKERS) + "=n,b"

setUpModule, tearDownModule = harness.module_session("system")


class SystemTests(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.jre = self.runtime("Program Files", "Java System", self._testMethodName)
        self.use_runtimes([("1.6", self.jre.home)])

    def assert_started(self, app, result, records):
        self.assertEqual([r["command_line"] for r in records], [command(f'"{self.jre.java}" ', app.win)], result.summary())
        self.assert_boxes(result, [])

    def test_no_library_is_taken_from_the_application_or_working_folder_nor_beyond_a_plain_windows(self):
        app, cwd = self.app_folder("Dll App"), self.session.c_folder("Dll Working Folder")
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
        result, records = self.launch(app, cwd=self.prefix.windows_path(cwd), env=env, dll_overrides=OVERRIDES,
                                      modules_at_ms=600)
        self.assertEqual([ntpath.basename(line["module"]) for line in harness.read_records(markers)], [])
        self.assert_started(app, result, records)
        # The reference: baseline.exe, one plain window, listed as long after it showed.
        shutil.copy2(self.session.baseline, app.unix)
        baseline = harness.run_driver(self.session, app.win + "\\baseline.exe", "C:\\", self.scratch / "baseline.json",
                                      modules_at_ms=600)
        for run in (baseline, result):
            self.assertTrue(run["modules"]["same_bitness"] and "kernel32.dll" in run["modules"]["names"], run["modules"])
        self.assertEqual(set(result["modules"]["names"]) - set(baseline["modules"]["names"]), {"tavrelo.exe"})

    def test_on_windows_xp_it_launches_and_its_working_folder_leaves_the_dll_search(self):
        version = {"i686": "winxp", "x86_64": "winxp64"}[self.session.bitness]
        self.prefix.reg("add", r"HKCU\Software\Wine", "/v", "Version", "/d", version, "/f")
        self.addCleanup(self.prefix.reg, "delete", r"HKCU\Software\Wine", "/v", "Version", "/f")
        ver = self.prefix.run(["cmd", "/c", "ver"], bitness=self.session.bitness).stdout.decode()
        self.assertIn({"winxp": " 5.1.", "winxp64": " 5.2."}[version], ver, "Wine does not play Windows XP")
        app = self.app_folder("Xp Test", "App Folder With Spaces")
        self.assert_started(app, *self.launch(app))
        # Without SetDefaultDllDirectories, as on XP, the launcher's restriction still takes the working
        # folder out of the search: dll-search-probe.exe restricts it as the launcher does, then loads a DLL
        # planted there by a bare name that no system DLL has.
        work = self.session.c_folder("Dll Work")
        shutil.copy2(self.session.tools / "markers" / "winmm.dll", work / "tavrelo-planted.dll")
        shutil.copy2(self.session.tools / "dll-search-probe.exe", app.unix)
        found = {}
        for mode in ("none", "fallback", "full"):
            probe = [app.win + "\\dll-search-probe.exe", self.prefix.windows_path(work), "tavrelo-planted.dll", mode]
            found[mode] = json.loads(self.prefix.run(probe, bitness=self.session.bitness).stdout.splitlines()[-1])
        self.assertEqual(found["none"]["loaded"].lower(), self.prefix.windows_path(work).lower() + "\\tavrelo-planted.dll")
        self.assertEqual([(found[m]["loaded"], found[m]["error"]) for m in ("fallback", "full")], [("", 126)] * 2, found)

    def test_an_application_folder_deeper_than_260_characters(self):
        # CreateProcess cannot start a program that deep: it is started by the Wine loader, as a shell would.
        app = self.app_folder("Deep", *[f"level {i:02d} of a deep application folder" for i in range(8)])
        self.assertGreater(len(app.win), 260)
        env = self.prefix.env({"TAVRELO_JAVA_RECORD": self.prefix.windows_path(self.record_file)})
        done = harness.run_detached(self.session.command("tavrelo.exe"), env, 60, cwd=app.unix)
        ended, said = time.time(), done.stderr.decode(errors="replace")
        if "ShellExecuteEx failed" in said and not self.record_file.exists():
            # Wine 10 hands a 32-bit program in a folder that deep to start.exe, which does not find it.
            self.skipTest("this Wine cannot start a 32-bit program that deep: " + " ".join(said.split())[-300:])
        [record] = harness.read_records(self.record_file)
        self.assertEqual((done.returncode, record["command_line"]), (0, command(f'"{self.jre.java}" ', app.win)))
        self.assertGreater(ended - (record["start_time"] / harness.FILETIME_PER_SECOND - 11644473600), 9.8)
        # A working folder must be shorter than 260 characters: the short form of the same folder.
        folder = record["current_directory"]
        self.assertTrue(len(folder) < 260 and folder.upper().startswith("C:\\DEEP\\"), folder)
        self.assertEqual(folder.count("\\"), app.win.count("\\"), folder)

    def test_the_exe_signed_with_authenticode_still_launches(self):
        key, certificate, signed = (self.scratch / name for name in ("key.pem", "certificate.pem", "signed.exe"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", certificate,
                        "-days", "2", "-subj", "/CN=Throw-away code signer", "-addext", "extendedKeyUsage=codeSigning"],
                       check=True, capture_output=True)
        subprocess.run(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-h", "sha256", "-in",
                        self.session.exe, "-out", signed], check=True, capture_output=True)
        app = self.app_folder("Signed App")
        shutil.copy2(signed, app.unix / "tavrelo.exe")
        self.assert_started(app, *self.launch(app))


if __name__ == "__main__":
    unittest.main()
