"""The art checks catch faults; make_dib's bitmaps hold any picture's pixels."""

import io
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

from PIL import Image, ImageChops, ImageStat

ART = os.path.dirname(os.path.abspath(__file__))
RESOURCES, PICTURES = os.path.join(ART, "..", "launcher", "resources"), os.path.join(ART, "..", "e2e", "pictures")
sys.path.insert(0, ART)
import check_art  # noqa: E402


def saved(image, kind="GIF", **options):
    out = io.BytesIO()
    image.save(out, kind, optimize=False, **options)  # optimising GIFs drops unused colours
    return out.getvalue()


class ArtTest(unittest.TestCase):
    def test_the_checks_catch_faults_in_the_splash_picture_and_the_icon(self):
        splash, ico = Image.open(os.path.join(RESOURCES, "splash.gif")), os.path.join(RESOURCES, "tavrelo.ico")
        self.addCleanup(splash.close)
        self.assertEqual(check_art.splash_problems(splash.filename) + check_art.icon_problems(ico), [])
        wrong = splash.copy()
        wrong.putpalette(splash.getpalette()[:-3] + [0xC0, 0xC0, 0xFE])
        ico = pathlib.Path(ico).read_bytes()
        icon, first = Image.open(io.BytesIO(ico)), check_art.icon_directory(ico)[0]
        self.assertEqual(first.dim, (32, 32))
        mask = first.offset + first.size - 4 * 32  # 32 x 32: 4 bytes a row
        pixel = first.offset + 40 + 1024  # its bottom-left pixel, transparent
        for check, fragment, data in (
                (check_art.splash_problems, "last palette colour is C0C0FE", saved(wrong)),
                (check_art.splash_problems, "491 x 517 pixels", saved(splash.resize((491, 517)))),
                (check_art.splash_problems, "one transparent", saved(splash, transparency=255)),
                (check_art.splash_problems, "2 frames", saved(splash, save_all=True, append_images=[wrong])),
                (check_art.splash_problems, "colours (16)", saved(splash.convert("RGB").quantize(16), "PNG")),
                (check_art.splash_problems, "more than half", saved(splash.point(lambda i: i and i - 1))),
                (check_art.splash_problems, "not a readable picture", saved(splash)[:5000]),
                (check_art.icon_problems, "holds ['32x32']", saved(icon, "ICO", sizes=[(32, 32)], bitmap_format="bmp")),
                (check_art.icon_problems, "32 bits per pixel", saved(icon, "ICO", sizes=[(32, 32), (16, 16)], bitmap_format="bmp")),
                (check_art.icon_problems, "corners are not", ico[:mask] + bytes(128) + ico[mask + 128:]),
                (check_art.icon_problems, "every pixel transparent", ico[:mask] + b"\xFF" * 128 + ico[mask + 128:]),
                (check_art.icon_problems, "would tint the screen", ico[:pixel] + b"\x01" + ico[pixel + 1:]),
                (check_art.icon_problems, "not a readable icon", ico[:-100]),
                (check_art.icon_problems, "bytes, expected 2216", ico[:14] + bytes((0xA9,)) + ico[15:]),
                (check_art.icon_problems, "not a readable icon", saved(splash, "PNG"))):
            with self.subTest(fragment):
                problems = check(io.BytesIO(data))
                self.assertTrue(any(fragment in p for p in problems), "no %r in %r" % (fragment, problems))

    def convert(self, name, data):
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
            run = subprocess.run([sys.executable, "-B", os.path.join(ART, "make_dib.py"), os.path.join(folder, name),
                                  os.path.join(folder, "out.bmp")], capture_output=True, text=True)
            if run.returncode:
                self.assertEqual(os.listdir(folder), [name])
                return run.stderr.replace(folder + os.sep, "")
            with Image.open(os.path.join(folder, "out.bmp")) as bitmap:
                return bitmap.convert("RGB").tobytes(), bitmap.getpalette(), bitmap.info["compression"]

    def test_bitmaps_keep_up_to_256_colours_exactly_and_reduce_photos(self):
        with Image.open(os.path.join(RESOURCES, "splash.gif")) as gif, open(gif.filename, "rb") as f:  # RLE8:
            self.assertEqual(self.convert("splash.gif", f.read()), (gif.convert("RGB").tobytes(), gif.getpalette(), 1))
        picture = Image.open(os.path.join(PICTURES, "transparent.png"))
        flat = Image.new("RGB", picture.size, check_art.BACKGROUND)  # transparent pixels take the window colour
        flat.paste(picture, mask=picture)
        self.assertEqual(self.convert("a.png", saved(picture, "PNG"))[0], flat.tobytes())
        for kind in ("GIF", "BMP", "PNG"):
            self.assertEqual(self.convert("a", saved(flat.resize((37, 23)), kind))[0], flat.resize((37, 23)).tobytes(), kind)
        self.assertEqual(self.convert("a.gif", saved(flat, save_all=True, append_images=[flat.rotate(9)]))[0], flat.tobytes())
        photo = Image.open(os.path.join(PICTURES, "photo.png")).convert("RGB")
        for kind in ("PNG", "JPEG"):
            data = saved(photo, kind)
            pixels, palette, compression = self.convert("a", data)
            bitmap, source = Image.frombytes("RGB", photo.size, pixels), Image.open(io.BytesIO(data)).convert("RGB")
            self.assertEqual((len(palette), compression), (3 * 256, 0), kind)  # BI_RGB
            self.assertLess(max(ImageStat.Stat(ImageChops.difference(bitmap, source)).mean), 8, kind)

    def test_bad_pictures_fail_with_one_line_that_names_file_and_reason(self):
        png = saved(Image.open(os.path.join(PICTURES, "photo.png")), "PNG")
        for name, data, message in (("a.txt", b"text", "not a picture"), ("a.png", png[:9000], "truncated"),
                                    ("a.ppm", b"P6 0 0 255\n", "empty"),
                                    ("a.png", saved(Image.new("1", (4097, 1)), "PNG"), "too large")):
            self.assertRegex(self.convert(name, data), "^%s: %s[^\n]*\n$" % (name, message))


if __name__ == "__main__":
    unittest.main()
