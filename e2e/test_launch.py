"""End-to-end tests of tavrelo.exe under Wine: the splash window and the start
of the Java application.

Each test starts the launcher through tavrelo-driver.exe, which watches its
windows, answers its message boxes and reports; the runtime is a stand-in
java.exe that records how it was started. Run by hand:
    TAVRELO_WIN32_DIR=build/win32 /usr/bin/python3 e2e/run_module.py test_launch -v
"""

import json
import shutil
import struct
import time
import unittest
from pathlib import Path

import harness
from harness import BACKGROUND, client_pixel, expected_command, mul_div, runtime_program

# Window style bits (winuser.h).
WS_OVERLAPPEDWINDOW = 0x00CF0000  # caption, system menu, sizing frame, minimise and maximise boxes
WS_VISIBLE = 0x10000000
WS_EX_TOOLWINDOW = 0x00000080
WS_EX_APPWINDOW = 0x00040000
SW_SHOWMINNOACTIVE = 7

START_FAILED = "The Java application could not be started."
ERROR_MOD_NOT_FOUND = 126
# The splash's client area as it must look (screenshots; the README shows one).
REFERENCE_SCREENSHOTS = Path(__file__).resolve().parent.parent / "docs"
# Other splash pictures, each built into tavrelo-<name>.exe among the tools.
PICTURES = Path(__file__).resolve().parent / "pictures"


setUpModule, tearDownModule = harness.module_session("launch")


class RuntimeCase(harness.LauncherTestCase):
    """Tests that need a registered runtime: a stand-in java.exe under a
    folder with spaces and the support files already present, so no copy
    message comes in between."""

    def setUp(self):
        super().setUp()
        self.jre = self.runtime("Program Files", "Java Test", f"jre-{self._testMethodName}")
        self.use_runtimes([("1.6", self.jre.home)])

    def assert_launched_exactly(self, app, result, records):
        """One start of the runtime's java.exe, hidden, in APP's folder, with
        the exact command line, and no box: the launch as it must be."""
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command(runtime_program(self.jre), app.win))
        # The quoted program name is the one that ran.
        self.assertEqual(record["exe_path"].lower(), self.jre.java.lower())
        self.assertEqual(record["current_directory"], app.win)
        self.assert_started_hidden(record)
        self.assert_no_boxes(result)
        return record

    def assert_matches_reference(self, image, name):
        """IMAGE, a screenshot of the client area, is docs/NAME.png (the client
        area as it must look) in size and pixels, but for the one-step
        rounding in which GDIs differ. The caption and frame around it are
        the system's, and differ between Wine versions."""
        reference = harness.read_rgb(REFERENCE_SCREENSHOTS / f"{name}.png")
        self.assertEqual(image.size, reference.size)
        difference = harness.compare(image, reference)
        self.assertTrue(difference.within(), f"docs/{name}.png: {difference}")


class CommandLineTests(RuntimeCase):
    def test_exact_command_line_for_an_app_folder_with_spaces(self):
        app = self.app_folder("Tavrelo Test", "App Folder With Spaces")
        result, records = self.launch(app, cwd="C:\\")
        record = self.assert_launched_exactly(app, result, records)
        # The runtime starts 2 s after the splash's creation (which sets the
        # timer), both as the system recorded them, plus the tick and the
        # launch (0.2 s emulated, at most 0.55 s loaded): not 1 s, nor 3 s.
        splash = result.splash
        self.assertTrue(splash["seen"], result.summary())
        timer = (record["start_time"] - splash["created_time"]) / harness.FILETIME_PER_SECOND
        self.assertTrue(1.95 < timer < 2.9, f"{timer:.3f} s; {result.summary()}")
        # The splash is gone by then: the driver did not see it after that.
        self.assertGreater(record["start_time"], splash["shown_time"], result.summary())

    def test_literal_command_line_pieces(self):
        # The same format spelled out once without the helper, so that a
        # mistake shared by the helper and the launcher still shows.
        app = self.app_folder("Lit App")
        _, records = self.launch(app)
        command = records[0]["command_line"]
        self.assertTrue(command.startswith(f'"{self.jre.home}\\bin\\java.exe" -classpath "C:\\Lit App\\RostellCDMA'
                                           '\\lib\\comm.jar";"C:\\Lit App\\RostellCDMA\\lib\\win32com.dll.jar";'),
                        command)
        self.assertTrue(command.endswith(';"C:\\Lit App\\RostellCDMA\\lib\\swing-layout-1.0.jar";'
                                         '"C:\\Lit App\\RostellCDMA" CDMA.Frame11'), command)
        self.assertEqual(command.count('.jar";'), 10, command)

    def test_app_folder_at_a_drive_root(self):
        root = self.map_drive("Q", self.session.scratch("drive-q"))
        app = self.app_folder(root=root)
        self.assertEqual(app.win, "Q:\\")
        result, records = self.launch(app, cwd="Q:\\")
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command(runtime_program(self.jre), "Q:\\"))
        self.assertIn('"Q:\\\\RostellCDMA\\lib\\comm.jar";', record["command_line"])
        self.assertEqual(record["current_directory"], "Q:\\")

    def test_non_ascii_app_folder(self):
        app = self.app_folder("Tavrelo Prüfung", "Ωmega 測試 app")
        result, records = self.launch(app)
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command(runtime_program(self.jre), app.win))
        self.assertEqual(record["current_directory"], app.win)


class WorkingFolderTests(RuntimeCase):
    """The child starts in the application folder whatever the launcher's own
    working folder is."""

    def check_child_folder(self, app, cwd):
        result, records = self.launch(app, cwd=cwd)
        record = self.assert_single_start(records, result)
        self.assertEqual(record["current_directory"], app.win, f"launcher started in {cwd}")
        self.assertEqual(record["command_line"], expected_command(runtime_program(self.jre), app.win))

    def test_launcher_started_elsewhere_on_the_same_drive(self):
        app = self.app_folder("Same Drive", "App")
        elsewhere = self.session.c_folder("Same Drive", "Somewhere Else")
        self.check_child_folder(app, self.prefix.windows_path(elsewhere))

    def test_launcher_started_on_another_drive(self):
        app = self.app_folder("Other Drive", "App")
        other = self.map_drive("R", self.session.scratch("drive-r"))
        (other / "work dir").mkdir()
        self.check_child_folder(app, "R:\\work dir")


class RuntimeFromPathTests(harness.LauncherTestCase):
    """Without a runtime folder the launcher runs plain "java", which the
    system finds in the application folder. (test_discovery has the failed
    searches that go on this way.)"""

    def test_empty_java_home(self):
        self.use_runtimes([("1.6", "")])
        app = self.app_folder("Empty Home App")
        harness.plant_standin(self.session, app.unix / "java.exe")
        result, records = self.launch(app)
        record = self.assert_single_start(records, result)
        self.assertEqual(record["command_line"], expected_command("java ", app.win))
        self.assertEqual(record["exe_path"].lower(), (app.win + "\\java.exe").lower())
        self.assertEqual(record["current_directory"], app.win)
        self.assert_started_hidden(record)
        self.assert_no_boxes(result)


class LingerTests(RuntimeCase):
    def test_waits_ten_seconds_after_the_start_then_exits_0(self):
        app = self.app_folder("Linger App")
        result, records = self.launch(app, kill_on_record=False, timeout_ms=30000)
        record = self.assert_single_start(records, result)
        self.assertFalse(result.killed, result.summary())
        self.assertEqual(result.exit_code, 0, result.summary())
        # From the runtime's creation to the launcher's exit, as Wine's server
        # recorded each: the Sleep and a few ms around it (0.11 s at most
        # loaded). A linger of 9 s or 12 s falls outside.
        linger = result.exit_seconds_after(record["start_time"])
        self.assertTrue(9.99 <= linger < 11.0, f"{linger:.3f} s; {result.summary()}")
        self.assert_no_boxes(result)


class EarlyCloseTests(RuntimeCase):
    """Closing the splash before its timer ends the launcher with exit code 1,
    at once, without starting anything or showing a box."""

    def test_wm_close_system_menu_and_alt_f4(self):
        for how in ("wmclose", "syscommand", "altf4"):
            with self.subTest(how):
                app = self.app_folder(f"Close {how}")
                result, _ = self.launch(app, kill_on_record=False, close_at_ms=300, close_how=how, timeout_ms=15000)
                self.assertEqual(result.exit_code, 1, result.summary())
                # At once: its exit within 1 s of the close (0 when none was
                # sent); one that went on to its timer would linger 10 s.
                self.assertTrue(0 < result.exit_seconds_after(result["close_time"]) < 1.0, result.summary())
                self.assert_no_boxes(result)
                # A runtime started as the launcher ended has recorded by now.
                time.sleep(0.3 + 2 * self.session.program_start_seconds)
                self.assertEqual(harness.read_records(self.record_file), [], "the runtime was started")
                if how == "altf4":
                    self.assertTrue(result["close_was_foreground"], "the splash was not in front for Alt+F4")


class SplashStateTests(RuntimeCase):
    def test_minimised_splash_still_launches(self):
        app = self.app_folder("Minimised App")
        result, records = self.launch(app, minimize_at_ms=300, inspect_at_ms=700)
        self.assertTrue(result.inspection["minimized"], result.summary())
        self.assert_single_start(records, result)
        self.assertGreater(result.splash["gone_ms"], 0)
        self.assert_no_boxes(result)

    def test_splash_started_minimised_still_launches(self):
        app = self.app_folder("Started Minimised")
        result, records = self.launch(app, show_command=SW_SHOWMINNOACTIVE, inspect_at_ms=300)
        self.assertTrue(result.inspection["minimized"], result.summary())
        self.assert_single_start(records, result)

    def test_maximised_splash_keeps_the_picture_at_top_left(self):
        app = self.app_folder("Maximised App")
        screenshot = self.scratch / "maximised.bgr"
        # Maximised and inspected one right after the other; then the launch
        # goes on as ever.
        result, records = self.launch(app, maximize_at_ms=300, inspect_at_ms=300, screenshot=screenshot)
        inspection = result.inspection
        self.assertTrue(inspection["maximized"], result.summary())
        width = inspection["client_rect"]["width"]
        height = inspection["client_rect"]["height"]
        self.assertGreater(width, 487 + 100)
        self.assertGreater(height, 517 + 100)
        image = self.screenshot(screenshot, inspection, "splash-maximised")
        # At its top left the client area shows the picture as at 96 dpi,
        # unmaximised, in its place and size. Not to the pixel: after the
        # maximise, Wine 10 shows part of the picture drawn again, up to a
        # pixel off from where a whole paint puts its edges.
        reference = harness.read_rgb(REFERENCE_SCREENSHOTS / "splash-96dpi.png")
        matches, reason = harness.resembles(image.crop((0, 0, *reference.size)), reference)
        self.assertTrue(matches, f"the picture does not keep its place and size: {reason}")
        # All the rest shows the window colour. Wine 10 shows a maximised
        # window moved right and down by as much as its frame reaches past
        # the screen's left and top edges, so that much of the client area's
        # right and bottom is not on the screen: it is left out.
        window = inspection["window_rect"]
        shown = image.crop((0, 0, width + min(window["left"], 0), height + min(window["top"], 0)))
        shown.paste(tuple(bytes.fromhex(BACKGROUND)), (0, 0, *reference.size))
        self.assertEqual(len(shown.getcolors(shown.width * shown.height)), 1,
                         "the rest of the client area is not all window colour")
        self.assert_single_start(records, result)


class StartFailureTests(harness.LauncherTestCase):
    """When the runtime cannot be started: one box with the system's reason,
    then exit code 2 at once, without the 10 s wait."""

    def check_failure(self, app, error_number):
        result, records = self.launch(app, kill_on_record=False, dismiss_after_ms=1000, timeout_ms=20000)
        self.assertEqual(records, [])
        self.assertEqual(len(result.boxes), 1, result.summary())
        box = result.boxes[0]
        self.assertEqual(box["caption"], "Tavrelo")
        self.assertTrue(box["text"].startswith(START_FAILED + "\r\n\r\nError "), repr(box["text"]))
        self.assertIn(f"Error {error_number}: ", box["text"])
        # The reason is the system's text for the error, not left empty.
        self.assertGreater(len(box["text"].split(f"Error {error_number}: ", 1)[1].strip()), 5, repr(box["text"]))
        self.assertEqual(box["buttons"], ["OK"])
        self.assertFalse(box["icon"], box)
        self.assertTrue(box["owner_null"], box)
        self.assertTrue(box["foreground"], box)
        self.assertEqual(result.exit_code, 2, result.summary())
        # It waited for the OK, then ended at once: within 1 s of the press;
        # one that lingered after the box would take 10 s more.
        self.assertTrue(0 < result.exit_seconds_after(box["dismiss_time"]) < 1.0, result.summary())
        self.assertGreaterEqual(box["gone_ms"] - box["seen_ms"], 1000, result.summary())
        return box

    def test_no_java_anywhere(self):
        self.use_runtimes([("1.6", "")])
        self.check_failure(self.app_folder("Nowhere App"), 2)

    def test_runtime_without_java_exe(self):
        jre = self.runtime("Broken Runtime", "jre", java=False)
        self.use_runtimes([("1.6", jre.home)])
        self.check_failure(self.app_folder("Broken Runtime App"), 2)


class PlantedProgramTests(RuntimeCase):
    def test_programs_at_unquoted_prefixes_of_the_runtime_path_never_run(self):
        # Only this test shows a missing quote: when Wine resolves an unquoted
        # program path itself, it quotes it in the command line the child
        # sees, so the command line tests cannot tell.
        planted = [self.prefix.drive_c / "Program.exe", self.prefix.drive_c / "Program Files" / "Java.exe"]
        for path in planted:
            harness.plant_standin(self.session, self.remove_later(path))
        app = self.app_folder("Planted App")
        result, records = self.launch(app)
        self.assertEqual([r["exe_path"].lower() for r in records], [self.jre.java.lower()], result.summary())


class SplashInspectionTests(RuntimeCase):
    def inspect(self, name, dpi, picture=None):
        """Inspects the splash of the launcher, or of the one built with PICTURE."""
        app = self.app_folder(f"Inspect {name}")
        if picture:
            shutil.copy2(self.session.config.launcher_showing(picture), app.unix / "tavrelo.exe")
        screenshot = self.scratch / f"{name}.bgr"
        self.record_file.unlink(missing_ok=True)  # a test may inspect more than one launcher
        # Not closed after the inspection: a close that came only after the
        # splash's own end, as under load it did, would fail the test.
        result, records = self.launch(app, inspect_at_ms=600, screenshot=screenshot)
        inspection = result.inspection
        self.assertEqual(inspection["dpi"], dpi)
        image = self.screenshot(screenshot, inspection, name)
        self.assert_single_start(records, result)
        return inspection, image

    def check_common(self, inspection, image, width, height, tolerance):
        client = inspection["client_rect"]
        self.assertAlmostEqual(client["width"], width, delta=tolerance)
        self.assertAlmostEqual(client["height"], height, delta=tolerance)
        for x in range(0, client["width"], 7):
            self.assertEqual(client_pixel(inspection, image, x, client["height"] - 1), BACKGROUND, f"x={x}")
        picture_height = mul_div(7740, inspection["dpi"], 1440)
        self.assertNotEqual(client_pixel(inspection, image, 2, 2), BACKGROUND, "no picture at the top left")
        self.assertNotEqual(client_pixel(inspection, image, client["width"] // 2, picture_height - 1), BACKGROUND,
                            "the picture does not reach down to its last row")

    def test_splash_at_96_dpi(self):
        inspection, image = self.inspect("splash-96dpi", 96)
        self.assert_matches_reference(image, "splash-96dpi")
        self.assertEqual(inspection["title"], "Tavrelo")
        self.assertEqual(inspection["style"] & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW, hex(inspection["style"]))
        self.assertTrue(inspection["style"] & WS_VISIBLE)
        # Its own taskbar button: an unowned window that is no tool window.
        self.assertFalse(inspection["exstyle"] & WS_EX_TOOLWINDOW, hex(inspection["exstyle"]))
        self.assertFalse(inspection["minimized"] or inspection["maximized"])
        self.check_common(inspection, image, 487, 517, 0)
        window = inspection["window_rect"]
        self.assertAlmostEqual((window["left"] + window["right"]) / 2, inspection["screen_width"] / 2, delta=2)
        self.assertAlmostEqual((window["top"] + window["bottom"]) / 2, inspection["screen_height"] / 2, delta=2)
        icons = inspection["icons"]
        self.assertEqual((icons["class_big"].get("width"), icons["class_big"].get("height")), (32, 32), icons)
        self.assertEqual((icons["class_small"].get("width"), icons["class_small"].get("height")), (16, 16), icons)

    def test_splash_at_120_dpi(self):
        self.prefix.set_dpi(120)
        self.addCleanup(self.prefix.set_dpi, 96)
        inspection, image = self.inspect("splash-120dpi", 120)
        self.check_common(inspection, image, mul_div(7305, 120, 1440), mul_div(7755, 120, 1440), 1)
        self.assert_matches_reference(image, "splash-120dpi")
        icons = inspection["icons"]
        # Icons are loaded at the system's icon sizes for this dpi.
        self.assertTrue(icons["class_big"]["present"] and icons["class_small"]["present"], icons)
        self.assertGreater(icons["class_big"]["width"], icons["class_small"]["width"], icons)

    def test_other_pictures_show_stretched_over_the_picture_area(self):
        """A photo in more than 256 colours, and a picture with transparent
        pixels, which show the window colour."""
        area = (487, mul_div(7740, 96, 1440))  # at 96 dpi, from the client area's top left
        for name in ("photo", "transparent"):
            inspection, image = self.inspect(f"splash-{name}", 96, picture=name)
            left, top, _, _ = harness.client_box(inspection)
            shown = image.crop((left, top, left + area[0], top + area[1]))
            matches, reason = harness.resembles(shown, harness.expected_picture(PICTURES / f"{name}.png", area))
            self.assertTrue(matches, f"{name}: {reason}")
            for x in range(0, area[0], 7):  # the row below the picture is the window's own
                self.assertEqual(client_pixel(inspection, image, x, area[1]), BACKGROUND, f"{name}, x={x}")
        # Transparent in the picture: its corners, above its shapes, the hole
        # in the dark band and right of it.
        for x, y in ((2, 2), (484, 2), (243, 20), (243, 181), (482, 258), (4, 512)):
            self.assertEqual(client_pixel(inspection, image, x, y), BACKGROUND, (x, y))


class DamagedPictureTests(RuntimeCase):
    """A splash bitmap that fails the launcher's checks is not drawn: the
    window shows its background alone, and the launch goes on."""

    def check_damaged(self, offset, patch):
        """Overwrites the launcher's copy of its splash bitmap with PATCH at
        OFFSET from the bitmap's start, then looks at the splash."""
        app = self.app_folder(self._testMethodName)
        exe_file = app.unix / "tavrelo.exe"
        exe = bytearray(exe_file.read_bytes())
        at = exe.find(struct.pack("<IiiHHI", 40, 490, 517, 1, 8, 1))  # size, width, height, planes, bits, RLE8
        self.assertGreater(at, 0, "no splash bitmap in the executable")
        exe[at + offset:at + offset + len(patch)] = patch
        exe_file.write_bytes(bytes(exe))
        screenshot = self.scratch / "damaged.bgr"
        result, records = self.launch(app, inspect_at_ms=600, screenshot=screenshot)
        inspection = result.inspection
        image = self.screenshot(screenshot, inspection)
        picture_height = mul_div(7740, 96, 1440)
        for x, y in ((2, 2), (243, picture_height // 2), (243, picture_height - 1)):
            self.assertEqual(client_pixel(inspection, image, x, y), BACKGROUND, (x, y))
        self.assert_single_start(records, result)

    def test_codes_cut_short(self):
        self.check_damaged(20, struct.pack("<I", 10))  # the image size in the header

    def test_delta_jump_that_would_leave_pixels_undrawn(self):
        self.check_damaged(40 + 256 * 4, b"\x00\x02\x05\x00")  # the first code, after the palette


class WindowsXpTests(RuntimeCase):
    """The launcher where Wine plays Windows XP (XP x64 for the x86_64
    build): it starts, and launches exactly as on later systems. Without
    SetDefaultDllDirectories, as on XP, the working folder still leaves the
    DLL search."""

    # Wine's name for the system, and the version number its programs see.
    SYSTEMS = {"i686": ("winxp", "5.1"), "x86_64": ("winxp64", "5.2")}
    WINE_KEY = r"HKCU\Software\Wine"

    def setUp(self):
        super().setUp()
        name, number = self.SYSTEMS[self.session.bitness]
        self.play_windows_version(name)
        self.assertIn(f" {number}.", self.version_seen(), f"Wine does not play {name}")

    def play_windows_version(self, name):
        """Sets the prefix's Windows version to NAME until the test ends."""
        query = self.prefix.reg("query", self.WINE_KEY, "/v", "Version", check=False)
        before = query.stdout.decode(errors="replace").split() if query.returncode == 0 else []
        if "REG_SZ" in before:
            self.addCleanup(self.prefix.reg, "add", self.WINE_KEY, "/v", "Version", "/d",
                            before[before.index("REG_SZ") + 1], "/f")
        else:
            self.addCleanup(self.prefix.reg, "delete", self.WINE_KEY, "/v", "Version", "/f")
        self.prefix.reg("add", self.WINE_KEY, "/v", "Version", "/d", name, "/f")

    def version_seen(self):
        """What `ver` prints in the prefix, from a program of the launcher's
        bitness; a cmd that did not run raises with Wine's error output."""
        return self.prefix.run(["cmd", "/c", "ver"], bitness=self.session.bitness).stdout.decode(errors="replace")

    def test_launches_hidden_with_the_exact_command_line_and_exits_0(self):
        app = self.app_folder("Xp Test", "App Folder With Spaces")
        result, records = self.launch(app, kill_on_record=False, timeout_ms=30000)
        self.assert_launched_exactly(app, result, records)
        self.assertTrue(result.splash["seen"], result.summary())
        self.assertFalse(result.killed, result.summary())
        self.assertEqual(result.exit_code, 0, result.summary())

    def test_working_folder_leaves_the_dll_search_without_set_default_dll_directories(self):
        """dll-search-probe.exe restricts the search as the launcher does,
        with the lookup of SetDefaultDllDirectories made to fail (fallback)
        or not (full), then loads a DLL planted in its working folder by its
        bare name, which no system DLL has."""
        probe_folder = self.session.c_folder("Xp Dll Probe")
        probe = probe_folder / "dll-search-probe.exe"
        shutil.copy2(self.session.config.tools / "dll-search-probe.exe", probe)
        work = self.session.c_folder("Xp Dll Work")
        planted = "tavrelo-planted.dll"
        shutil.copy2(self.session.config.markers / "winmm.dll", work / planted)

        def probe_with(mode):
            completed = self.prefix.run([self.prefix.windows_path(probe), self.prefix.windows_path(work), planted,
                                         mode], bitness=self.session.bitness)
            return json.loads(completed.stdout.decode().strip().splitlines()[-1])

        # Control: without a restriction the planted DLL is found and loaded.
        loaded = probe_with("none")["loaded"]
        self.assertEqual(loaded.lower(), (self.prefix.windows_path(work) + "\\" + planted).lower())
        fallback = probe_with("fallback")
        self.assertEqual(fallback["loaded"], "", fallback)
        self.assertEqual(fallback["error"], ERROR_MOD_NOT_FOUND, fallback)
        # The same probe with the lookup left alone: Wine has the function.
        full = probe_with("full")
        self.assertTrue(full["set_default_dll_directories"], full)
        self.assertEqual(full["loaded"], "", full)


if __name__ == "__main__":
    unittest.main()
