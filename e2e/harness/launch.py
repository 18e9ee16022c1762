"""A test case base for running the launcher: fresh application folders and
runtimes, a record file for the stand-in runtime, and the expected command."""

import os
import shutil

from PIL import Image

from .app import clear_java_runtimes, make_app_folder, make_runtime, set_java_runtimes
from .driver import read_records, run_driver
from .images import hex_colour, read_screenshot
from .session import SessionTestCase

# The class path entries the launcher passes, in order.
JARS = ("comm.jar", "win32com.dll.jar", "jdc.jar", "CDMARostell.jar", "slf4j-log4j12-1.1.0.jar",
        "slf4j-api-1.1.0.jar", "log4j-1.2.8.jar", "jxl.jar", "slf4j-simple-1.1.0.jar", "swing-layout-1.0.jar")
MAIN_CLASS = "CDMA.Frame11"

STARTF_USESHOWWINDOW = 0x1
SW_HIDE = 0
BACKGROUND = "C0C0FF"


def expected_command(program, app_folder):
    """The command line for PROGRAM ('"<home>\\bin\\java.exe" ' or 'java ')
    and the application folder as the launcher names it (a drive root keeps
    its backslash, so its entries read "Q:\\\\RostellCDMA...")."""
    entries = "".join(f'"{app_folder}\\RostellCDMA\\lib\\{jar}";' for jar in JARS)
    return f'{program}-classpath {entries}"{app_folder}\\RostellCDMA" {MAIN_CLASS}'


def runtime_program(runtime):
    return f'"{runtime.home}\\bin\\java.exe" '


def mul_div(number, numerator, denominator):
    """MulDiv: the product rounded half away from zero."""
    product = number * numerator
    quotient, remainder = divmod(product, denominator)
    return quotient + (1 if 2 * remainder >= denominator else 0)


class LauncherTestCase(SessionTestCase):
    """Helpers for tests that start tavrelo.exe through the driver."""

    def setUp(self):
        super().setUp()
        self.record_file = self.scratch / "java-records.jsonl"
        self._launches = 0

    @property
    def prefix(self):
        return self.session.prefix

    def app_folder(self, *parts, root=None):
        """tavrelo.exe copied into a new folder (under drive C: unless ROOT,
        a Unix folder, is given)."""
        base = root if root is not None else self.prefix.drive_c
        return make_app_folder(self.session, base.joinpath(*parts))

    def runtime(self, *parts, **kwargs):
        """A runtime folder under drive C:, removed after the test."""
        runtime = make_runtime(self.session, self.prefix.drive_c.joinpath(*parts), **kwargs)
        self.remove_later(runtime.home_unix)
        return runtime

    def use_runtimes(self, versions):
        set_java_runtimes(self.session, versions)

    def no_runtimes(self):
        clear_java_runtimes(self.session)

    def remove_later(self, path):
        def remove():
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            elif os.path.lexists(path):
                os.unlink(path)
        self.addCleanup(remove)
        return path

    def map_drive(self, letter, folder):
        folder.mkdir(parents=True, exist_ok=True)
        self.prefix.map_drive(letter, folder)
        self.addCleanup(self.prefix.unmap_drive, letter)
        return folder

    def launch(self, app, cwd="C:\\", kill_on_record=True, env=None, **options):
        """Runs the launcher from APP with working folder CWD under the
        driver. Unless KILL_ON_RECORD is false, the launcher is ended soon
        after the stand-in runtime recorded its start (and no box is open),
        which spares the 10 s wait. Returns the driver's result and the
        stand-in's records."""
        child_env = {"TAVRELO_JAVA_RECORD": self.prefix.windows_path(self.record_file)}
        child_env.update(env or {})
        if kill_on_record:
            options.setdefault("kill_when_file", self.record_file)
        self._launches += 1
        result = run_driver(self.session, app.exe, cwd, self.scratch / f"launch-{self._launches}.json",
                            env=child_env, **options)
        return result, read_records(self.record_file)

    def screenshot(self, path, inspection, name=None):
        """The screenshot the driver saved in PATH during INSPECTION, as an RGB
        image; kept in the artifacts folder as NAME-<bitness>.png if NAME is
        given. The splash must have finished painting before it was taken."""
        self.assertTrue(inspection["painted"], "the splash was still painting when the driver gave up waiting")
        self.assertTrue(inspection.get("screenshot_saved"), f"no screenshot, splash minimised or gone: {inspection}")
        image = read_screenshot(path, inspection)
        if name:
            image.save(self.session.artifact(f"{name}-{self.session.bitness}.png"))
        return image

    # --- assertions ---------------------------------------------------------

    def assert_no_boxes(self, result):
        self.assertEqual([box["text"] for box in result.boxes], [], result.summary())

    def assert_single_start(self, records, result):
        self.assertEqual(len(records), 1, f"runtime starts: {records}; {result.summary()}")
        return records[0]

    def assert_started_hidden(self, record):
        self.assertTrue(record["startup_flags"] & STARTF_USESHOWWINDOW, record)
        self.assertEqual(record["show_window"], SW_HIDE, record)


def client_pixel(inspection, image, x, y):
    """Colour (RRGGBB) of client point (x, y) in a screenshot the driver took
    during INSPECTION."""
    captured = inspection["captured_rect"]
    client = inspection["client_rect"]
    return hex_colour(image, client["left"] - captured["left"] + x, client["top"] - captured["top"] + y)


def client_box(inspection):
    """The client area's place (left, top, right, bottom) in a screenshot
    taken during INSPECTION."""
    client, captured = inspection["client_rect"], inspection["captured_rect"]
    left, top = client["left"] - captured["left"], client["top"] - captured["top"]
    return left, top, left + client["width"], top + client["height"]


def expected_picture(path, size):
    """The picture file PATH as the window should show it when built with it:
    transparent pixels in the window colour, stretched to SIZE."""
    with Image.open(path) as picture:
        rgba = picture.convert("RGBA")
    flat = Image.alpha_composite(Image.new("RGBA", rgba.size, tuple(bytes.fromhex(BACKGROUND))), rgba).convert("RGB")
    return flat.resize(size, Image.Resampling.BILINEAR)
