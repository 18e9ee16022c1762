"""art/make_gif.py's pictures: python3 -m unittest art.test_art"""
import io
import os
import tempfile
import unittest

from PIL import Image

from art import make_gif

SPLASH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher", "resources", "splash.gif")


class Art(unittest.TestCase):
    def test_make_gif_keeps_the_pictures_pixels_with_transparent_ones_in_the_window_colour(self):
        # A transparent corner; the same picture as an interlaced GIF and as a GIF whose window colour is
        # transparent, neither of which the launcher decodes.
        drawn = Image.new("RGBA", (37, 23))
        drawn.putdata([(x // (1 + y % 4) % 5 * 50, y % 3 * 90, 9, 0 if x + y < 9 else 255)
                       for y in range(23) for x in range(37)])
        flat = Image.new("RGB", drawn.size, (0xC0, 0xC0, 0xFF))
        flat.paste(drawn, mask=drawn)
        with tempfile.TemporaryDirectory() as folder:
            png = os.path.join(folder, "drawn.png")
            drawn.save(png)
            indexed = flat.convert("P", palette=Image.Palette.ADAPTIVE)
            interlaced = os.path.join(folder, "interlaced.gif")
            indexed.save(interlaced, interlace=True)
            transparent = os.path.join(folder, "transparent.gif")
            indexed.save(transparent, interlace=False, transparency=indexed.getpixel((0, 0)))
            for path in (png, interlaced, transparent):
                with Image.open(io.BytesIO(make_gif.gif_file(path))) as made:
                    # One image that covers the picture, not interlaced, without a transparent colour.
                    layout = (made.n_frames, made.tile[0][1], made.tile[0][3][1], "transparency" in made.info)
                    self.assertEqual(layout, (1, (0, 0, 37, 23), False, False), path)
                    self.assertEqual(made.convert("RGB").tobytes(), flat.tobytes(), path)

    def test_the_committed_splash_is_carried_byte_for_byte(self):
        with open(SPLASH, "rb") as f:
            self.assertEqual(make_gif.gif_file(SPLASH), f.read())


if __name__ == "__main__":
    unittest.main()
