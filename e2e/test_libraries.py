"""End-to-end tests of the libraries tavrelo.exe loads: none planted in its
folders, and none beyond what a plain window of the same bitness holds.

Run by hand:
    TAVRELO_WIN32_DIR=build/win32 /usr/bin/python3 e2e/run_module.py test_libraries -v
"""

import ntpath
import unittest

import harness
from harness import BACKGROUND, client_pixel

# Names of system libraries that a window with a picture could load, each
# built as a marker DLL (e2e/tools/markers) of the launcher's bitness. Never
# version.dll: Wine itself loads that one from the program's folder.
MARKERS = ("gdiplus", "ole32", "oleaut32", "uxtheme", "dwmapi", "msimg32", "propsys", "shcore", "shlwapi", "winmm",
           "cryptbase", "windowscodecs")
# Wine then takes a DLL of these names from the search path like Windows
# does, instead of its own built-in one.
OVERRIDES = ",".join(MARKERS) + "=n,b"
# The splash has painted by then (it stays about 2 s).
AFTER_SHOWN_MS = 600


setUpModule, tearDownModule = harness.module_session("libraries")


def module_names(result):
    """The lower-case base names the driver read from the program."""
    modules = result["modules"]
    assert modules and "names" in modules, f"no module list: {modules}"
    return set(modules["names"])


class LibraryCase(harness.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.jre = self.runtime("Program Files", "Java Libraries", f"jre-{self._testMethodName}")
        self.use_runtimes([("1.6", self.jre.home)])
        self.addCleanup(self.no_runtimes)


class PlantedDllTests(LibraryCase):
    def plant_markers(self, folder):
        for name in MARKERS:
            (folder / f"{name}.dll").write_bytes((self.session.config.markers / f"{name}.dll").read_bytes())

    def loaded_markers(self, path):
        return sorted(ntpath.basename(line["module"]).lower() for line in harness.read_records(path))

    def test_libraries_planted_in_the_app_and_working_folders_are_not_loaded(self):
        app = self.app_folder("Dll App")
        cwd = self.session.c_folder("Dll Working Folder")
        for folder in (app.unix, cwd):
            self.plant_markers(folder)
        marker_file = self.scratch / "markers.jsonl"
        env = {"TAVRELO_MARKER_FILE": self.prefix.windows_path(marker_file)}
        # Control: a program in that folder that loads each of these by name
        # gets the planted one, so every marker and override works.
        harness.plant_standin(self.session, app.unix / "control.exe")
        self.prefix.run([app.win + "\\control.exe"],
                        env=self.prefix.env({**env, "TAVRELO_JAVA_LOAD_LIBRARY": ";".join(MARKERS)}, OVERRIDES),
                        bitness=self.session.bitness)
        self.assertEqual(self.loaded_markers(marker_file), sorted(f"{name}.dll" for name in MARKERS))
        marker_file.unlink()

        screenshot = self.scratch / "planted.bgr"
        result, records = self.launch(app, cwd=self.prefix.windows_path(cwd), env=env, dll_overrides=OVERRIDES,
                                      inspect_at_ms=500, screenshot=screenshot)
        self.assertEqual(self.loaded_markers(marker_file), [])
        # The launcher went on: the picture drawn with the system's
        # libraries, no box, and the application started.
        image = self.screenshot(screenshot, result.inspection)
        self.assertNotEqual(client_pixel(result.inspection, image, 2, 2), BACKGROUND, result.summary())
        self.assert_no_boxes(result)
        self.assert_single_start(records, result)


class LoadedModuleTests(LibraryCase):
    def test_no_library_beyond_those_of_a_plain_window(self):
        # The reference: baseline.exe, one plain window of the same bitness,
        # listed as long after it showed as the launcher's splash is.
        folder = self.session.c_folder("Baseline Modules")
        (folder / "baseline.exe").write_bytes(self.session.config.baseline.read_bytes())
        baseline = harness.run_driver(self.session, self.prefix.windows_path(folder / "baseline.exe"), "C:\\",
                                      self.scratch / "baseline.json", modules_at_ms=AFTER_SHOWN_MS)
        app = self.app_folder("Module App")
        result, records = self.launch(app, modules_at_ms=AFTER_SHOWN_MS)
        self.assert_single_start(records, result)
        for run in (baseline, result):
            self.assertTrue(run["modules"]["same_bitness"], run["modules"])
            self.assertIn("kernel32.dll", module_names(run), run["modules"])
        extra = module_names(result) - module_names(baseline) - {"tavrelo.exe"}
        self.assertEqual(sorted(extra), [], f"baseline holds {sorted(module_names(baseline))}")


if __name__ == "__main__":
    unittest.main()
