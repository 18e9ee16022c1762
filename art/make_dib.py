#!/usr/bin/python3
"""make_dib.py PICTURE OUT.bmp, run by the build: the splash bitmap, a bottom-up
8-bit DIB in RLE8 (or uncompressed where smaller), from the first frame of any
picture Pillow reads of up to 4096 x 4096 pixels, transparent ones in the window
colour C0C0FF, and 256 colours at most: fewer are kept exactly, more reduced."""

import io
import itertools
import os
import struct
import sys

from PIL import Image

BACKGROUND = (0xC0, 0xC0, 0xFF)
Image.MAX_IMAGE_PIXELS = None  # the size is checked here, before any pixel is decoded


def unreadable(path):
    """Why Pillow identifies no picture in PATH: asks the reader that the file's
    signature names, as Pillow refuses pictures without pixels as unidentified."""
    with open(path, "rb") as f:
        for name, (factory, accept) in Image.OPEN.items():
            f.seek(0)
            if accept and accept(f.read(16)):
                f.seek(0)
                try:
                    factory(f, path)
                except Exception as e:  # each reader raises its own kind
                    if "not identified" in str(e):
                        return "empty: a %s picture without pixels" % name
                    return "empty or truncated: a %s file without a whole picture (%s)" % (name, e)
    return "not a picture (in no format that Pillow reads)"


def load(path):
    """The first frame of PATH as a "P" image whose palette holds its colours."""
    try:
        image = Image.open(path)
    except Image.UnidentifiedImageError:
        raise SystemExit("%s: %s" % (path, unreadable(path)))
    except OSError as e:
        raise SystemExit("%s: cannot read: %s" % (path, e.strerror or e))
    with image:
        if max(image.size) > 4096:
            raise SystemExit("%s: too large: %d x %d pixels, at most 4096 x 4096" % ((path,) + image.size))
        try:
            image.load()
        except (OSError, SyntaxError, ValueError, EOFError) as e:
            raise SystemExit("%s: truncated: %s" % (path, e))
        if image.mode == "P" and "transparency" not in image.info:
            return image.copy()
        flat = Image.alpha_composite(Image.new("RGBA", image.size, BACKGROUND), image.convert("RGBA"))
    return flat.convert("RGB").convert("P", palette=Image.Palette.ADAPTIVE, colors=256)  # exact up to 256 colours


def encode_row(row):
    """Runs of two or more as (count, index), at most 255 each; the pixels between
    them in absolute mode (0, count, indices, padded to a word) if three or more."""
    out, alone = bytearray(), bytearray()
    for index, run in itertools.chain(((i, len(list(g))) for i, g in itertools.groupby(row)), [(0, 0)]):
        if run == 1:
            alone.append(index)
            continue
        for part in (alone[start:start + 255] for start in range(0, len(alone), 255)):
            out += (bytes((0, len(part))) + part + bytes(len(part) & 1) if len(part) >= 3
                    else b"".join(bytes((1, i)) for i in part))
        alone.clear()
        for start in range(0, run, 255):
            out += bytes((min(255, run - start), index))
    return bytes(out)


def bitmap_file(image):
    """Pillow's uncompressed .bmp of a "P" image, or the same headers over RLE8
    codes where smaller: each row in full, ended by end-of-line or end-of-bitmap."""
    out = io.BytesIO()
    image.save(out, "BMP", dpi=(0, 0))
    plain, indices, width = out.getvalue(), image.tobytes(), image.width
    offset = struct.unpack_from("<I", plain, 10)[0]  # where the pixels start
    rle = b"".join(encode_row(indices[y * width:(y + 1) * width]) + (b"\0\0" if y else b"\0\1")
                   for y in reversed(range(image.height)))
    if len(rle) >= len(plain) - offset:
        return plain
    headers = bytearray(plain[:offset])
    struct.pack_into("<I", headers, 2, offset + len(rle))  # file size
    struct.pack_into("<II", headers, 30, 1, len(rle))      # BI_RLE8, image size
    struct.pack_into("<I", headers, 50, 0)                 # every colour is important
    return bytes(headers) + rle


if __name__ == "__main__":
    picture, out = sys.argv[1:] if len(sys.argv) == 3 else sys.exit(__doc__)
    data = bitmap_file(load(picture))  # bad input exits with its one line here
    with open(out + ".partial", "wb") as f:  # beside OUT, which it then replaces whole
        f.write(data)
    os.replace(out + ".partial", out)
