"""End-to-end tests of the launcher built with other splash pictures than its
own (e2e/pictures/, built into tavrelo-photo.exe and tavrelo-transparent.exe
among the tools): each shows stretched over the window's picture area, its
transparent pixels in the window colour.
    TAVRELO_E2E_BITNESS=x86_64 TAVRELO_WIN64_DIR=build/win64 python3 e2e/run_module.py test_splash_pictures -v
"""

import shutil
import unittest
from pathlib import Path

import harness
from harness import BACKGROUND, client_box, client_pixel, mul_div

PICTURES = Path(__file__).resolve().parent / "pictures"
# Where the window stretches its picture at 96 dpi, from the client area's top left.
PICTURE_AREA = (487, mul_div(7740, 96, 1440))


def setUpModule():
    harness.start_session("splash_pictures")


def tearDownModule():
    harness.stop_session()


class SplashPictureTests(harness.LauncherTestCase):
    def show(self, name):
        """The inspection and screenshot of the splash of the launcher built with picture NAME."""
        app = self.app_folder(f"Picture {name}")
        shutil.copy2(self.session.config.launcher_showing(name), app.unix / "tavrelo.exe")
        screenshot = self.scratch / f"{name}.bmp"
        result, records = self.launch(app, kill_on_record=False, inspect_at_ms=600, screenshot=screenshot,
                                      close_at_ms=800)
        inspection = result.inspection
        self.assertIsNotNone(inspection, result.summary())
        self.assertEqual(inspection["dpi"], 96)
        image = self.keep_screenshot(screenshot, f"splash-{name}")
        self.assertEqual((result.exit_code, records), (1, []), result.summary())
        left, top, _, _ = client_box(inspection)
        shown = image.crop((left, top, left + PICTURE_AREA[0], top + PICTURE_AREA[1]))
        matches, reason = harness.resembles(shown, harness.expected_picture(PICTURES / f"{name}.png", PICTURE_AREA))
        self.assertTrue(matches, reason)
        for x in range(0, PICTURE_AREA[0], 7):  # the row below the picture is the window's own
            self.assertEqual(client_pixel(inspection, image, x, PICTURE_AREA[1]), BACKGROUND, f"x={x}")
        return inspection, image

    def test_photo_in_more_than_256_colours(self):
        self.show("photo")

    def test_picture_with_transparent_pixels(self):
        inspection, image = self.show("transparent")
        # Transparent in the picture: its corners, above its shapes, the hole
        # in the dark band and right of it.
        for x, y in ((2, 2), (484, 2), (243, 20), (243, 181), (482, 258), (4, 512)):
            self.assertEqual(client_pixel(inspection, image, x, y), BACKGROUND, (x, y))


if __name__ == "__main__":
    unittest.main()
