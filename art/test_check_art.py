"""Shows that check_art accepts the committed artwork and rejects broken
variants of it, that the LZW coder round-trips, and that make_dib's bitmap
holds the GIF's pixels. Standard library only:
run as `python3 -m unittest art.test_check_art` from the repository root."""

import os
import random
import struct
import subprocess
import sys
import tempfile
import unittest

ART_DIR = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(os.path.dirname(ART_DIR), "launcher", "resources")
sys.path.insert(0, ART_DIR)

import check_art  # noqa: E402
import make_art  # noqa: E402  (its encoders need no PIL)
import make_dib  # noqa: E402

GCT_END = 13 + 768          # global colour table ends here
IMAGE_FLAGS = GCT_END + 9   # packed byte of the image descriptor
LZW_START = IMAGE_FLAGS + 2  # first sub-block, after the minimum code size


def read(name):
    with open(os.path.join(RESOURCES, name), "rb") as f:
        return f.read()


def lzw_payload(gif):
    """The concatenated image data of the committed layout (no extensions)."""
    r = check_art.Reader(gif)
    r.pos = LZW_START
    return r.sub_blocks()


def with_payload(gif, payload):
    """`gif` with its image data replaced by `payload`, properly blocked."""
    return gif[:LZW_START] + make_art.sub_blocks(payload) + b"\x3B"


def patched(data, offset, new):
    return data[:offset] + new + data[offset + len(new):]


def pack_codes(codes, width):
    acc = nbits = 0
    out = bytearray()
    for code in codes:
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        out.append(acc)
    return bytes(out)


class GifTest(unittest.TestCase):
    def setUp(self):
        self.gif = read("splash.gif")

    def assertRejected(self, data, fragment):
        problems = check_art.check_gif(data)
        self.assertTrue(any(fragment in p for p in problems),
                        "expected a problem mentioning %r, got %r" % (fragment, problems))

    def test_committed_picture_passes(self):
        self.assertEqual(check_art.check_gif(self.gif), [])
        gce = b"\x21\xF9\x04\x00\x0A\x00\x00\x00"  # a delay, but no transparent colour
        self.assertEqual(check_art.check_gif(self.gif[:GCT_END] + gce + self.gif[GCT_END:]), [])

    def test_structure_faults(self):
        gce = b"\x21\xF9\x04\x01\x00\x00\xFF\x00"  # transparent colour 255
        image = self.gif[GCT_END:-1]
        for fragment, broken in {
                "signature": patched(self.gif, 0, b"GIF87a"),
                "logical screen": patched(self.gif, 6, struct.pack("<H", 491)),
                "no global colour table": patched(self.gif, 10, b"\x77"),
                "last global colour": patched(self.gif, GCT_END - 3, b"\xC0\xC0\xFE"),
                "interlaced": patched(self.gif, IMAGE_FLAGS, b"\x40"),
                "transparent": self.gif[:GCT_END] + gce + self.gif[GCT_END:],
                "2 images": self.gif[:-1] + image + b"\x3B",
                "0 images": self.gif[:GCT_END] + b"\x3B",
                "minimum code size is 7": patched(self.gif, LZW_START - 1, b"\x07"),
                "follow the trailer": self.gif + b"\x00\x00",
                # 128 entries: the size bits say so and half the table goes.
                "has 128 entries": self.gif[:10] + b"\xF6" + self.gif[11:13 + 381] + b"\xC0\xC0\xFF" + self.gif[GCT_END:],
                }.items():
            with self.subTest(fragment=fragment):
                self.assertRejected(broken, fragment)
        self.assertRejected(b"PNG...." + self.gif[7:], "signature")

    def test_truncated_file(self):
        self.assertRejected(self.gif[:len(self.gif) // 2], "truncated")
        self.assertRejected(self.gif[:-1], "truncated")  # trailer missing
        payload = lzw_payload(self.gif)
        self.assertRejected(with_payload(self.gif, payload[:len(payload) // 2]), "ends before the end-of-information")

    def test_pixel_count(self):
        indices = bytes([255]) * (490 * 517 - 1)
        self.assertRejected(with_payload(self.gif, make_art.lzw_encode(indices)),
                            "decodes to 253329 pixels")
        too_many = bytes([255]) * (490 * 517 + 10)
        self.assertRejected(with_payload(self.gif, make_art.lzw_encode(too_many)),
                            "more than the 253330 pixels")

    def test_invalid_code(self):
        # Clear, one literal, then a code two beyond the next free one.
        self.assertRejected(with_payload(self.gif, pack_codes([256, 7, 260, 257], 9)),
                            "not in the table")

    def test_too_little_background(self):
        palette = make_art.build_palette(last=make_art.BACKGROUND)[0]
        half = 490 * 517 // 2
        indices = bytes([255]) * half + bytes([0]) * (490 * 517 - half)
        self.assertRejected(make_art.encode_gif(490, 517, palette, indices), "C0C0FF")
        # One pixel more than half is enough.
        indices = bytes([255]) * (half + 1) + bytes([0]) * (490 * 517 - half - 1)
        self.assertEqual(check_art.check_gif(make_art.encode_gif(490, 517, palette, indices)),
                         [])


class LzwTest(unittest.TestCase):
    def test_known_stream(self):
        # A 10 x 10 picture in four colours, coded with minimum code size 2.
        data = bytes.fromhex("8C2D99872A1CDC33A00275EC95FAA8DE608C04914C01")
        rows = ["1111122222"] * 3 + ["1110000222"] * 2 + ["2220000111"] * 2 + \
            ["2222211111"] * 3
        expected = bytes(int(c) for c in "".join(rows))
        self.assertEqual(check_art.lzw_decode(data, 2, 100), (expected, 0))

    def test_round_trips(self):
        noise = bytes(random.Random(7).randrange(256) for _ in range(60000))  # many table resets
        for indices in (noise, bytes([255]) * 490 * 517, b"\x05", bytes([1, 2]) * 5000):
            decoded, left_over = check_art.lzw_decode(make_art.lzw_encode(indices), 8, len(indices))
            self.assertEqual(decoded, indices)
            self.assertLessEqual(left_over, 1)

    def test_empty_table_code(self):
        with self.assertRaises(check_art.LzwError):
            check_art.lzw_decode(pack_codes([256, 258, 257], 9), 8, 10)


def ico_parts(ico):
    """(size, bitmap) pairs of an icon file."""
    count = struct.unpack_from("<H", ico, 4)[0]
    parts = []
    for n in range(count):
        w, _, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * n)
        parts.append((w, ico[offset:offset + size]))
    return parts


def build_ico(parts):
    """An icon file from (size, bitmap) pairs, with consistent directory."""
    out = bytearray(struct.pack("<HHH", 0, 1, len(parts)))
    offset = 6 + 16 * len(parts)
    for size, bitmap in parts:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(bitmap), offset)
        offset += len(bitmap)
    for _, bitmap in parts:
        out += bitmap
    return bytes(out)


class IcoTest(unittest.TestCase):
    def setUp(self):
        self.ico = read("tavrelo.ico")
        self.parts = ico_parts(self.ico)

    def assertRejected(self, data, fragment):
        problems = check_art.check_ico(data)
        self.assertTrue(any(fragment in p for p in problems),
                        "expected a problem mentioning %r, got %r" % (fragment, problems))

    def test_committed_icon_passes(self):
        self.assertEqual(check_art.check_ico(self.ico), [])
        self.assertEqual(check_art.check_ico(build_ico(self.parts)), [])

    def test_image_count_and_order(self):
        self.assertRejected(build_ico(self.parts[:1]), "holds 1 images")
        self.assertRejected(build_ico(self.parts[::-1]), "expected 32x32 in this place")
        self.assertRejected(build_ico(self.parts + self.parts[1:]), "holds 3 images")

    def test_directory_entry_faults(self):
        self.assertRejected(patched(self.ico, 6 + 6, struct.pack("<H", 32)), "bits per pixel")
        self.assertRejected(patched(self.ico, 6 + 2, b"\x10"), "colour count 16")
        self.assertRejected(patched(self.ico, 2, b"\x02\x00"), "type=2")
        self.assertRejected(patched(self.ico, 6 + 12, struct.pack("<I", 40)),
                            "expected 38")

    def test_truncated_file(self):
        # Pixels but no AND mask: bytes in resource then lack the mask's share.
        cut = [(size, bitmap[:40 + 1024 + size * size]) for size, bitmap in self.parts]
        self.assertRejected(build_ico(cut), "bytes in resource")
        self.assertRejected(self.ico[:-100], "past the end")
        self.assertRejected(self.ico[:30], "truncated")
        self.assertRejected(self.ico + b"\x00" * 4, "its images end at")

    def test_bitmap_header_faults(self):
        size, bitmap = self.parts[0]
        variants = {
            "BITMAPINFOHEADER": patched(bitmap, 0, struct.pack("<I", 108)),
            "height covers": patched(bitmap, 8, struct.pack("<i", 32)),
            "bitmap has 1 planes and 4 bits": patched(bitmap, 14, struct.pack("<H", 4)),
            "compression 1": patched(bitmap, 16, struct.pack("<I", 1)),
            "palette colours": patched(bitmap, 32, struct.pack("<I", 16)),
        }
        for fragment, broken in variants.items():
            with self.subTest(fragment=fragment):
                self.assertRejected(build_ico([(size, broken), self.parts[1]]), fragment)

    def test_mask_faults(self):
        size, bitmap = self.parts[1]
        mask_at = 40 + 1024 + size * size
        opaque = bitmap[:mask_at] + bytes(len(bitmap) - mask_at)
        self.assertRejected(build_ico([self.parts[0], (size, opaque)]), "corners")
        # Only the bottom-left corner (first mask bit) made opaque.
        one_corner = patched(bitmap, mask_at, bytes([bitmap[mask_at] & 0x7F]))
        self.assertRejected(build_ico([self.parts[0], (size, one_corner)]), "corners")
        clear = bitmap[:mask_at] + b"\xFF" * (len(bitmap) - mask_at)
        self.assertRejected(build_ico([self.parts[0], (size, clear)]), "every pixel")
        # A transparent corner pixel that is not black would tint the desktop.
        tinted = patched(bitmap, 40 + 1024, b"\x01")
        self.assertRejected(build_ico([self.parts[0], (size, tinted)]), "not black")


def decode_rle8(bits, width):
    """Rows of indices, bottom first, as a BI_RLE8 reader sees them, and the
    bytes used up to end-of-bitmap."""
    rows, row, pos = [], [], 0
    while True:
        count, value = bits[pos], bits[pos + 1]
        pos += 2
        if count:
            row += [value] * count
        elif value in (0, 1):
            rows += [row] if value == 0 or row else []
            row = []
            if value == 1:
                return rows, pos
        else:
            assert value != 2, "delta codes leave pixels undrawn"
            row += bits[pos:pos + value]
            pos += value + (value & 1)
        assert len(row) <= width, "row overruns the width"


class SplashBitmapTest(unittest.TestCase):
    def test_bitmap_holds_the_gifs_pixels_and_palette(self):
        problems, palette, indices = check_art.read_gif(read("splash.gif"))
        self.assertEqual(problems, [])
        dib = make_dib.encode_dib(490, 517, palette, indices)
        magic, file_size, _, _, offset = struct.unpack_from("<2sIHHI", dib)
        self.assertEqual((magic, file_size, offset), (b"BM", len(dib), 14 + 40 + 1024))
        header = struct.unpack_from("<IiiHHIIiiII", dib, 14)
        self.assertEqual(header, (40, 490, 517, 1, 8, 1, len(dib) - offset, 0, 0, 256, 0))
        stored = [tuple(dib[54 + 4 * i:57 + 4 * i][::-1]) for i in range(256)]  # B, G, R
        self.assertEqual(stored, palette)
        rows, used = decode_rle8(dib[offset:], 490)
        self.assertEqual((used, len(rows)), (len(dib) - offset, 517))
        self.assertEqual(bytes(i for row in reversed(rows) for i in row), indices)


class CommandLineTest(unittest.TestCase):
    def test_exit_codes(self):
        def run(*paths):
            return subprocess.run([sys.executable, os.path.join(ART_DIR, "check_art.py")] + list(paths),
                                  capture_output=True, text=True)
        ico = os.path.join(RESOURCES, "tavrelo.ico")
        self.assertEqual(run(os.path.join(RESOURCES, "splash.gif"), ico).returncode, 0)
        with tempfile.TemporaryDirectory() as folder:
            broken = os.path.join(folder, "broken.gif")
            with open(broken, "wb") as f:
                f.write(patched(read("splash.gif"), IMAGE_FLAGS, b"\x40"))
            bad = run(broken, ico)
            self.assertEqual(bad.returncode, 1)
            self.assertIn("broken.gif: image 1 is interlaced", bad.stdout)
            self.assertEqual(run(os.path.join(folder, "none.gif"), ico).returncode, 2)


if __name__ == "__main__":
    unittest.main()
