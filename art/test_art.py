"""art/make_dib.py's bitmaps: python3 -m unittest art.test_art"""
import io, os, sys, tempfile, unittest  # noqa: E401
from PIL import Image

ART = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(ART, "..", "launcher", "resources")
sys.path.insert(0, ART)
import make_dib  # noqa: E402


class Art(unittest.TestCase):
    def test_make_dibs_bitmap_holds_the_pictures_pixels_with_transparent_ones_in_the_window_colour(self):
        # Runs of 1 to 4 pixels in each row (the bitmap codes runs and single pixels apart), a transparent
        # corner, and the committed picture with its runs longer than 255 pixels.
        drawn = Image.new("RGBA", (37, 23))
        drawn.putdata([(x // (1 + y % 4) % 5 * 50, y % 3 * 90, 9, 0 if x + y < 9 else 255)
                       for y in range(23) for x in range(37)])
        flat = Image.new("RGB", drawn.size, (0xC0, 0xC0, 0xFF))
        flat.paste(drawn, mask=drawn)
        with tempfile.TemporaryDirectory() as folder, Image.open(os.path.join(RESOURCES, "splash.gif")) as gif:
            drawn.save(os.path.join(folder, "drawn.png"))
            for path, picture in ((os.path.join(folder, "drawn.png"), flat), (gif.filename, gif.convert("RGB"))):
                with Image.open(io.BytesIO(make_dib.bitmap_file(make_dib.load(path)))) as bitmap:
                    self.assertEqual(bitmap.convert("RGB").tobytes(), picture.tobytes(), path)


if __name__ == "__main__":
    unittest.main()
