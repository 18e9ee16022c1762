"""The splash window and the launch of the Java application, under Wine: the real tavrelo.exe, started
and watched by tavrelo-driver.exe, starts a stand-in java.exe that records how it was started."""

import os
import shutil
import struct
import time
import unittest

import harness
from PIL import Image

# The command line the launcher starts: <java> is the program as it names it ('"<home>\\bin\\java.exe" ' or
# 'java '), <app> the application folder (a drive root keeps its backslash: "C:\\\\RostellCDMA").
COMMAND = ('<java>-classpath "<app>\\RostellCDMA\\lib\\comm.jar";"<app>\\RostellCDMA\\lib\\win32com.dll.jar";'
           '"<app>\\RostellCDMA\\lib\\jdc.jar";"<app>\\RostellCDMA\\lib\\CDMARostell.jar";'
           '"<app>\\RostellCDMA\\lib\\slf4j-log4j12-1.1.0.jar";"<app>\\RostellCDMA\\lib\\slf4j-api-1.1.0.jar";'
           '"<app>\\RostellCDMA\\lib\\log4j-1.2.8.jar";"<app>\\RostellCDMA\\lib\\jxl.jar";'
           '"<app>\\RostellCDMA\\lib\\slf4j-simple-1.1.0.jar";"<app>\\RostellCDMA\\lib\\swing-layout-1.0.jar";'
           '"<app>\\RostellCDMA" CDMA.Frame11')
WS_OVERLAPPEDWINDOW = 0x00CF0000
WS_VISIBLE = 0x10000000
WS_EX_TOOLWINDOW = 0x80
BACKGROUND = (0xC0, 0xC0, 0xFF)
# The system's own text for error 193 keeps its insert as it stands.
START_FAILED = "The Java application could not be started.\r\n\r\nError 193: Bad EXE format for %1."

setUpModule, tearDownModule = harness.module_session("launch")


def command(program, app_folder):
    return COMMAND.replace("<java>", program).replace("<app>", app_folder)


def app_icon(size):
    with Image.open(harness.ROOT / "launcher" / "resources" / "tavrelo.ico") as icon:
        icon.size = size  # the image that convert() decodes
        return icon.convert("RGBA")


def reference(name):
    with Image.open(harness.ROOT / "docs" / f"{name}.png") as picture:
        return picture.convert("RGB")


class LaunchCase(harness.LauncherTestCase):
    """A registered runtime under a folder with spaces, its support files in place."""

    def setUp(self):
        super().setUp()
        self.jre = self.runtime("Program Files", "Java Test", self._testMethodName)
        self.use_runtimes([("1.6", self.jre.home)])

    def assert_launched(self, app, result, records):
        """One start of the runtime's java.exe, hidden, in APP's folder, with the exact command, no box."""
        self.assertEqual(len(records), 1, f"{records}; {result.summary()}")
        record = records[0]
        self.assertEqual(record["command_line"], command(f'"{self.jre.java}" ', app.win))
        self.assertEqual((record["exe_path"].lower(), record["current_directory"]), (self.jre.java.lower(), app.win))
        self.assertEqual((record["startup_flags"] & 1, record["show_window"]), (1, 0), "not started hidden")
        self.assert_boxes(result, [])
        return record

    def assert_placed(self, seen):
        """The frame is centred on the screen, but where it is larger than the screen its top left corner,
        and so the title bar, is on the screen."""
        frame = seen["window_rect"]
        for start, size, screen in [(frame["left"], frame["width"], seen["screen_width"]),
                                    (frame["top"], frame["height"], seen["screen_height"])]:
            self.assertAlmostEqual(start, max(0, (screen - size) / 2), delta=2, msg=f"{frame} on {screen}")

    def assert_picture(self, image, name):
        """IMAGE, the client area, is docs/NAME.png but for the one-step rounding in which GDIs differ."""
        worst, share, _ = harness.difference(image, reference(name))
        self.assertTrue(worst <= 1 and share <= 0.01, f"docs/{name}.png: {share:.2%} of pixels off, by {worst}")


class SplashAndLaunchTests(LaunchCase):
    def test_splash_for_2_s_then_the_runtime_hidden_then_10_s_then_exit_0(self):
        # Programs at the unquoted prefixes of the runtime's path: only a quoted path never runs them.
        for planted in ("Program.exe", "Program Files/Java.exe"):
            self.addCleanup(os.remove, shutil.copy2(self.session.java, self.prefix.drive_c / planted))
        # A folder name beyond ASCII reaches the command unchanged.
        app = self.app_folder("Tavrelo Prüfung", "Ωmega 測試 Folder With Spaces")
        result, records = self.launch(app, kill_on_record=False, inspect_at_ms=600, screenshot=self.scratch / "96",
                                      icons=True)
        record = self.assert_launched(app, result, records)
        self.assertEqual((result.exit_code, result.killed), (0, False), result.summary())
        # From the splash's creation, which starts the timer, to the runtime's, both as Wine's server stamped
        # them: the 2 s, then the tick and the launch (0.2 s emulated, up to 0.55 s loaded).
        timer = (record["start_time"] - result.splash["created_time"]) / harness.FILETIME_PER_SECOND
        self.assertTrue(1.95 < timer < 2.9, f"timer {timer:.3f} s; {result.summary()}")
        linger = result.exit_seconds_after(record["start_time"])
        self.assertTrue(9.99 <= linger < 11.0, f"linger {linger:.3f} s; {result.summary()}")
        seen = result.inspection
        self.assertEqual([seen[k] for k in ("title", "dpi", "minimized", "maximized")], ["Tavrelo", 96, False, False])
        self.assertEqual(seen["style"] & (WS_OVERLAPPEDWINDOW | WS_VISIBLE), WS_OVERLAPPEDWINDOW | WS_VISIBLE)
        self.assertFalse(seen["exstyle"] & WS_EX_TOOLWINDOW, "no taskbar button")
        self.assertEqual((seen["client_rect"]["width"], seen["client_rect"]["height"]), (487, 517))
        self.assert_placed(seen)
        # Its icons, as the system hands them on (to X), are the application icon's two images.
        self.assertEqual({size: icon.tobytes() for size, icon in result.icons.items()},
                         {size: app_icon(size).tobytes() for size in ((32, 32), (16, 16))})
        self.assert_picture(self.screenshot(self.scratch / "96", seen), "splash-96dpi")

    def test_a_closed_splash_ends_the_launcher_with_1_at_once_and_starts_nothing(self):
        for how in ("wmclose", "syscommand"):
            with self.subTest(how):
                app = self.app_folder(f"Close {how}")
                result, _ = self.launch(app, kill_on_record=False, close_at_ms=300, close_how=how, timeout_ms=15000)
                self.assertEqual(result.exit_code, 1, result.summary())
                self.assertTrue(0 < result.exit_seconds_after(result["close_time"]) < 1.0, result.summary())
                self.assert_boxes(result, [])
                time.sleep(0.3 + 2 * self.session.program_start_seconds)  # a runtime started at the end records by now
                self.assertEqual(harness.read_records(self.record_file), [], "the runtime was started")

    def test_a_minimised_or_maximised_splash_still_launches(self):
        for case, options in [("minimised", dict(minimize_at_ms=300, inspect_at_ms=700)),
                              ("started minimised", dict(show_command=7, inspect_at_ms=300)),  # SW_SHOWMINNOACTIVE
                              ("maximised", dict(maximize_at_ms=300, inspect_at_ms=300))]:
            with self.subTest(case):
                app = self.app_folder(case)
                self.record_file.unlink(missing_ok=True)
                result, records = self.launch(app, screenshot=self.scratch / case, **options)
                self.assertEqual(result.inspection["maximized" if case == "maximised" else "minimized"], True)
                self.assert_launched(app, result, records)
        # Maximised, the picture keeps its place and size at the top left (not to the pixel: Wine 10 draws
        # part of it again, a pixel off), and all the rest is the window colour. Wine 10 moves a maximised
        # window by as much as its frame reaches past the screen's edges: that much of the client area's
        # right and bottom is off the screen and left out.
        seen = result.inspection  # the last row's
        expected = reference("splash-96dpi")
        image = self.screenshot(self.scratch / "maximised", seen)
        self.assertLess(harness.difference(image.crop((0, 0, *expected.size)), expected, factor=4)[2], 6)
        frame = seen["window_rect"]
        rest = image.crop((0, 0, seen["client_rect"]["width"] + min(frame["left"], 0),
                           seen["client_rect"]["height"] + min(frame["top"], 0)))
        self.assertGreater(rest.width, 487 + 100)
        rest.paste(BACKGROUND, (0, 0, *expected.size))
        self.assertEqual(rest.getcolors(), [(rest.width * rest.height, BACKGROUND)])

    def test_the_window_and_its_picture_scale_with_the_dpi_and_stay_on_a_small_screen(self):
        self.addCleanup(self.prefix.set_screen, 96, 0)
        app = self.app_folder("Dpi App")
        # On screen 1 (1024 x 768) the frame is taller than the screen at 144 dpi: the system then makes it as
        # tall as the screen allows, and the picture, cut, is not compared.
        for dpi, screen, icons, picture in [(120, 0, [(20, 20), (40, 40)], "splash-120dpi"),
                                            (144, 1, [(24, 24), (48, 48)], None)]:
            with self.subTest(f"{dpi} dpi on screen {screen}"):
                self.prefix.set_screen(dpi, screen)
                self.record_file.unlink(missing_ok=True)
                shot = self.scratch / str(dpi)
                result, records = self.launch(app, inspect_at_ms=600, screenshot=shot, icons=True)
                seen = result.inspection
                self.assertEqual(seen["dpi"], dpi)
                self.assertEqual(sorted(result.icons), icons, "icons at the system's sizes for the dpi")
                self.assert_placed(seen)
                if picture:
                    self.assertEqual((seen["client_rect"]["width"], seen["client_rect"]["height"]), (609, 646))
                    self.assert_picture(self.screenshot(shot, seen), picture)
                self.assert_launched(app, result, records)

    def test_a_damaged_splash_picture_leaves_the_background_and_the_launch_goes_on(self):
        app = self.app_folder("Damaged")
        exe = bytearray((app.unix / "tavrelo.exe").read_bytes())
        at = exe.find(b"GIF89a" + struct.pack("<HH", 490, 517))
        self.assertGreater(at, 0, "no splash GIF in the executable")
        image_data = at + 13 + 3 * 256 + 10 + 1  # past the screen, its palette, the image's descriptor, the code size
        exe[image_data + 1 + exe[image_data]] = 0  # its data ends after the first sub-block
        (app.unix / "tavrelo.exe").write_bytes(exe)
        result, records = self.launch(app, inspect_at_ms=600, screenshot=self.scratch / "damaged")
        self.assertEqual(self.screenshot(self.scratch / "damaged", result.inspection).getcolors(),
                         [(487 * 517, BACKGROUND)])
        self.assert_launched(app, result, records)


class StartFailureTests(harness.LauncherTestCase):
    def test_a_runtime_that_cannot_start_is_told_in_one_box_then_exit_2_at_once(self):
        broken = self.runtime("Broken Runtime", "jre", java=False)
        (broken.home_unix / "bin" / "java.exe").write_bytes(b"no program\r\n" * 100)
        self.use_runtimes([("1.6", broken.home)])
        result, records = self.launch(self.app_folder("Broken"), kill_on_record=False, dismiss_after_ms=1000)
        self.assertEqual((records, result.exit_code), ([], 2), result.summary())
        self.assert_boxes(result, [START_FAILED])
        box = result.boxes[0]
        # It waited for the OK, then ended at once: one that lingered would take 10 s more.
        self.assertGreaterEqual(box["gone_ms"] - box["seen_ms"], 1000, box)
        self.assertTrue(0 < result.exit_seconds_after(box["dismiss_time"]) < 1.0, result.summary())


if __name__ == "__main__":
    unittest.main()
