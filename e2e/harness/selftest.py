"""Checks of the harness's own pure-Python parts (no Wine needed):
    cd e2e && python3 -m unittest harness.selftest"""

import os
import re
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path
from unittest import mock

from PIL import Image

from . import config as config_module
from . import wine
from .driver import DriverResult
from .images import compare, hex_colour, read_rgb, resembles
from .launch import BACKGROUND, expected_command, expected_picture, mul_div
from .session import Session
from .wine import Prefix, reg_string


WINDOW_COLOUR = tuple(bytes.fromhex(BACKGROUND))


class PathTests(unittest.TestCase):
    def setUp(self):
        self.prefix = Prefix("/tmp/some-prefix", ":1")

    def test_drive_c_and_the_rest_of_the_unix_tree(self):
        self.assertEqual(self.prefix.windows_path("/tmp/some-prefix/drive_c/App Dir/x.exe"), "C:\\App Dir\\x.exe")
        self.assertEqual(self.prefix.windows_path("/tmp/some-prefix/drive_c"), "C:\\")
        self.assertEqual(self.prefix.windows_path("/var/out.json"), "Z:\\var\\out.json")
        self.assertEqual(self.prefix.unix_path("C:\\App Dir\\x.exe"),
                         Path("/tmp/some-prefix/drive_c/App Dir/x.exe"))

    def test_mapped_drive_wins_over_z(self):
        self.prefix.drives["Q"] = Path("/tmp/elsewhere/q")
        self.assertEqual(self.prefix.windows_path("/tmp/elsewhere/q"), "Q:\\")
        self.assertEqual(self.prefix.windows_path("/tmp/elsewhere/q/sub"), "Q:\\sub")
        self.assertEqual(self.prefix.windows_path("/tmp/elsewhere/qq"), "Z:\\tmp\\elsewhere\\qq")
        self.assertEqual(self.prefix.unix_path("q:\\sub"), Path("/tmp/elsewhere/q/sub"))

    def test_reg_string_escapes(self):
        self.assertEqual(reg_string('C:\\a "b"'), '"C:\\\\a \\"b\\""')


class ExpectationTests(unittest.TestCase):
    def test_mul_div_rounds_like_windows(self):
        self.assertEqual(mul_div(7305, 96, 1440), 487)
        self.assertEqual(mul_div(7755, 96, 1440), 517)    # 516.99..
        self.assertEqual(mul_div(7740, 96, 1440), 516)
        self.assertEqual(mul_div(7305, 120, 1440), 609)   # 608.75
        self.assertEqual(mul_div(7755, 120, 1440), 646)   # 646.25
        self.assertEqual(mul_div(3, 1, 2), 2)             # halves round up

    def test_drive_root_command(self):
        command = expected_command("java ", "D:\\")
        self.assertTrue(command.startswith('java -classpath "D:\\\\RostellCDMA\\lib\\comm.jar";'), command)
        self.assertTrue(command.endswith('"D:\\\\RostellCDMA" CDMA.Frame11'), command)


class ScreenshotToleranceTests(unittest.TestCase):
    """The rule by which a screenshot matches its reference passes the
    one-step rounding differences of another GDI and nothing else: a picture
    moved by one pixel, a background one step off or a missing picture fail."""

    PICTURE_BOX = (10, 30, 485, 535)  # inside the client area of the reference

    @classmethod
    def setUpClass(cls):
        cls.reference = read_rgb(Path(__file__).resolve().parents[2] / "docs" / "splash-96dpi.png")

    def test_rounding_one_step_apart_on_few_pixels_matches(self):
        image = self.reference.copy()
        # One pixel in 300 rounded the other way, as Wine's 32-bit GDI does.
        for index in range(0, image.width * image.height, 300):
            x, y = index % image.width, index // image.width
            r, g, b = image.getpixel((x, y))
            image.putpixel((x, y), (r, g, b - 1 if b else 1))
        difference = compare(image, self.reference)
        self.assertTrue(difference.within(), difference)
        self.assertEqual(difference.worst, 1)

    def test_faults_do_not_match(self):
        shifted = self.reference.copy()
        shifted.paste(self.reference.crop(self.PICTURE_BOX), (self.PICTURE_BOX[0] + 1, self.PICTURE_BOX[1]))
        recoloured = self.reference.copy()
        recoloured.putdata([(r, g, b - 1) if (r, g, b) == WINDOW_COLOUR else (r, g, b)
                            for r, g, b in self.reference.getdata()])
        missing = self.reference.copy()
        missing.paste(WINDOW_COLOUR, self.PICTURE_BOX)
        for name, image in (("shifted", shifted), ("recoloured", recoloured), ("missing", missing)):
            with self.subTest(name):
                self.assertFalse(compare(image, self.reference).within(), name)

    def test_box_and_sizes(self):
        image = self.reference.copy()
        image.putpixel((0, 0), (0, 0, 0))
        self.assertEqual(compare(image, self.reference, (1, 1, 20, 20)).off, 0)
        self.assertEqual(compare(image, self.reference).off, 1)
        with self.assertRaises(ValueError):
            compare(image.crop((0, 0, 10, 10)), self.reference)
        with self.assertRaises(IndexError):
            hex_colour(image, image.width, 0)
        self.assertEqual(hex_colour(image, 0, 0), "000000")


class PictureResemblanceTests(unittest.TestCase):
    """The rule by which the launcher built with another picture shows it
    passes that picture as GDI would draw it (in 256 colours, stretched by
    another filter) and fails it moved by two pixels, another picture or none."""

    def test_each_picture(self):
        for path in sorted((Path(__file__).resolve().parents[1] / "pictures").glob("*.png")):
            expected = expected_picture(path, (487, 516))
            with Image.open(path) as picture:
                # As far from Pillow's stretch as GDI's: 256 colours, nearest pixels.
                rendering = expected_picture(path, picture.size).quantize(256).convert("RGB")
            rendering = rendering.resize(expected.size, Image.Resampling.NEAREST)
            matches, reason = resembles(rendering, expected)
            self.assertTrue(matches, f"{path.name}: {reason}")
            faults = {"another picture": expected.transpose(Image.Transpose.ROTATE_180),
                      "no picture": Image.new("RGB", expected.size, WINDOW_COLOUR)}
            for dx, dy in ((2, 0), (-2, 0), (0, 2), (0, -2)):
                faults[f"moved by {dx}, {dy}"] = Image.new("RGB", expected.size, WINDOW_COLOUR)
                faults[f"moved by {dx}, {dy}"].paste(rendering, (dx, dy))
            for fault, image in faults.items():
                with self.subTest(path.name, fault=fault):
                    matches, reason = resembles(image, expected)
                    self.assertFalse(matches, reason)


class DriverResultTests(unittest.TestCase):
    BOX = "The Java application could not be started.\r\n\r\nError {}: {}"

    def result(self, **data):
        return DriverResult({"exe": "C:\\App\\tavrelo.exe", "exit_code": 2, "message_boxes": [], **data},
                            "/results/launch-1.json")

    def test_wine_failing_to_start_a_program_is_named_as_wine_s_fault(self):
        for result in (self.result(message_boxes=[{"text": self.BOX.format(1359, "Internal error.")}]),
                       self.result(start_error=1359)):
            self.assertTrue(result.summary().startswith("A FAULT OF WINE, NOT OF THE LAUNCHER"), result.summary())

    def test_other_start_failures_are_not(self):
        for result in (self.result(message_boxes=[{"text": self.BOX.format(2, "File not found.")}]),
                       self.result(start_error=2), self.result()):
            self.assertEqual(result.wine_fault(), "")
            self.assertNotIn("WINE", result.summary())

    def test_children_are_listed_with_their_exit_status(self):
        result = self.result(children=[{"pid": 8, "image": "C:\\jre\\bin\\java.exe", "exit_code": 0xC0000135},
                                       {"pid": 9, "image": "C:\\jre\\bin\\java.exe", "exit_code": None},
                                       {"pid": 10, "image": "", "exit_code": 0}])
        self.assertIn("children=['java.exe exit=0xc0000135', 'java.exe exit=None', '(no image name) exit=0']",
                      result.summary())


class ConfigTests(unittest.TestCase):
    def setUp(self):
        names = ("TAVRELO_WIN32_DIR", "TAVRELO_WIN64_DIR", "TAVRELO_EXE", "TAVRELO_E2E_TOOLS", "TAVRELO_E2E_BITNESS")
        saved = {k: os.environ.pop(k) for k in names if k in os.environ}
        self.addCleanup(os.environ.update, saved)

    def test_unset_build_folder_is_a_problem(self):
        self.assertTrue(any("TAVRELO_WIN32_DIR" in p for p in config_module.load("i686").problems))
        self.assertTrue(any("TAVRELO_WIN64_DIR" in p for p in config_module.load("x86_64").problems))

    def test_each_bitness_takes_its_own_build_and_view(self):
        os.environ.update({"TAVRELO_WIN32_DIR": "/b/win32", "TAVRELO_WIN64_DIR": "/b/win64"})
        default = config_module.load()
        self.assertEqual((default.bitness, default.exe, default.reg_view),
                         ("i686", Path("/b/win32/bin/tavrelo.exe"), "/reg:32"))
        os.environ["TAVRELO_E2E_BITNESS"] = "x86_64"
        wide = config_module.load()
        self.assertEqual((wide.exe, wide.driver, wide.reg_view),
                         (Path("/b/win64/bin/tavrelo.exe"), Path("/b/win64/e2e/tools/tavrelo-driver.exe"), "/reg:64"))
        with self.assertRaises(ValueError):
            config_module.load("arm64")

    def test_only_the_x86_64_build_given_means_x86_64(self):
        os.environ["TAVRELO_WIN64_DIR"] = "/b/win64"
        self.assertEqual(config_module.load().bitness, "x86_64")
        self.assertEqual(config_module.load("i686").bitness, "i686")


class RegistryViewTests(unittest.TestCase):
    """Every registry write through a prefix names its view: reg.exe of
    either bitness then writes where the launcher under test reads."""

    def setUp(self):
        self.prefix = Prefix("/tmp/some-prefix", ":1", view="/reg:32")
        self.calls = []
        self.prefix.run = lambda args, **kwargs: self.calls.append(list(args)) or RegResult()

    def test_writes_name_the_prefix_view_or_the_one_asked_for(self):
        self.prefix.reg("add", r"HKLM\SOFTWARE\X", "/v", "A", "/d", "b", "/f")
        self.prefix.reg_delete_tree(r"HKLM\SOFTWARE\X", view="/reg:64")
        self.assertEqual(self.calls, [["reg", "add", r"HKLM\SOFTWARE\X", "/v", "A", "/d", "b", "/f", "/reg:32"],
                                      ["reg", "delete", r"HKLM\SOFTWARE\X", "/f", "/reg:64"]])

    def test_imports_go_through_reg_import_in_the_view(self):
        with tempfile.TemporaryDirectory() as folder:
            self.prefix.path = Path(folder)
            (Path(folder) / "drive_c").mkdir()
            self.prefix.reg_import(["[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]", ""])
        [call] = self.calls
        self.assertEqual((call[:2], call[-1]), (["reg", "import"], "/reg:32"))
        self.assertTrue(call[2].startswith("C:\\") and call[2].endswith(".reg"), call)


class RegResult:
    returncode = 0


class LoaderTests(unittest.TestCase):
    def test_each_program_starts_through_the_loader_of_its_bitness_without_randomisation(self):
        # The 64-bit loader hands a 32-bit program to start.exe, which cannot
        # find it from a working folder deeper than 260 characters.
        unrandomised = ["setarch", "-R"]
        with mock.patch.object(wine, "loader", return_value="/usr/lib/wine/wine64"):
            self.assertEqual(wine.program_command("i686", "a.exe"), unrandomised + ["/usr/lib/wine/wine", "a.exe"])
            self.assertEqual(wine.program_command("x86_64", "a.exe"), unrandomised + ["/usr/lib/wine/wine64", "a.exe"])
            self.assertEqual(Session("x", bitness="i686").command("t.exe")[:3], unrandomised + ["/usr/lib/wine/wine"])
            with mock.patch.object(wine, "run_detached", return_value=RegResult()) as run:
                Prefix("/p", ":1").run(["t.exe"], bitness="i686")
                Prefix("/p", ":1").run(["reg", "query", "HKCU"])
            self.assertEqual([call.args[0][:3] for call in run.call_args_list],
                             [unrandomised + ["/usr/lib/wine/wine"], unrandomised + ["/usr/lib/wine/wine64"]])

    def test_a_started_program_runs_without_randomisation(self):
        # What the kernel gives a program started by that command line, read
        # back by a shell (0x0040000 is ADDR_NO_RANDOMIZE).
        command = [*wine.NO_RANDOMISATION, "cat", "/proc/self/personality"]
        personality = int(subprocess.run(command, capture_output=True, text=True, check=True).stdout, 16)
        self.assertTrue(personality & 0x0040000, hex(personality))


class Wow64Tests(unittest.TestCase):
    """A missing or unusable 32-bit half of Wine, or a template made without
    it, is reported with its fix, never taken as fine."""

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)
        (self.folder / "wine64").write_text("")
        patcher = mock.patch.object(wine, "loader", return_value=str(self.folder / "wine64"))
        patcher.start()
        self.addCleanup(patcher.stop)

    def problem(self, runs_i386=True):
        with mock.patch.object(wine, "runs_i386_programs", return_value=runs_i386):
            return wine.wow64_problem.__wrapped__()

    def test_system_without_32_bit_programs_is_its_own_reason(self):
        self.assertEqual(self.problem(runs_i386=False), wine.NO_I386)

    def test_missing_32_bit_loader_names_the_package_and_the_fix(self):
        problem = self.problem()
        self.assertIn("wine32:i386", problem)
        self.assertIn("scripts/install-deps", problem)

    def test_32_bit_loader_that_cannot_be_started_says_so(self):
        loader = self.folder / "wine"
        loader.write_bytes(b"\x7fELF\x01\x01\x01" + bytes(9))  # no program the system can start
        loader.chmod(0o755)
        problem = self.problem()
        self.assertIn("cannot be started", problem)
        self.assertIn("scripts/install-deps", problem)

    def test_kernel_probe_is_the_program_it_claims_to_be(self):
        # Where the kernel refuses it, the probe never runs: its bytes are read here.
        octal = re.search(r"printf '(\\177ELF[^']*)'", wine.KERNEL_PROBE.read_text()).group(1)
        probe = octal.encode("latin-1").decode("unicode_escape").encode("latin-1")
        self.assertEqual(probe[:7], b"\x7fELF\x01\x01\x01")       # 32-bit, little-endian
        self.assertEqual(struct.unpack_from("<HHI", probe, 16), (2, 3, 1))  # executable, i386
        entry = struct.unpack_from("<I", probe, 24)[0]
        self.assertEqual(probe[entry - 0x08048000:], b"\xb8\x01\x00\x00\x00\xbb\x00\x00\x00\x00\xcd\x80")

    def test_working_32_bit_loader_is_no_problem(self):
        loader = self.folder / "wine"
        loader.write_text("#!/bin/sh\necho wine-8.0\n")
        loader.chmod(0o755)
        self.assertEqual(self.problem(), "")

    def test_template_without_the_32_bit_half_is_refused(self):
        template = self.folder / "template"
        with mock.patch.object(wine, "wow64_problem", return_value=""):
            problem = wine.i686_problem(template)
            self.assertIn("no 32-bit half", problem)
            self.assertIn("scripts/install-deps", problem)
            (template / wine.WOW64_PROBE).parent.mkdir(parents=True)
            (template / wine.WOW64_PROBE).write_bytes(b"MZ")
            self.assertEqual(wine.i686_problem(template), "")


if __name__ == "__main__":
    unittest.main()
