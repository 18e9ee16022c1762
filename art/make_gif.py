#!/usr/bin/python3
"""make_gif.py PICTURE OUT.gif, run by the build: the splash picture the launcher
carries and decodes, a GIF of one image. A GIF that the launcher takes as it is
is carried byte for byte; any other picture Pillow reads, of up to 4096 x 4096
pixels, is written anew from its first frame, transparent pixels in the window
colour C0C0FF, and 256 colours at most: fewer are kept exactly, more reduced."""

import io
import os
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


def carried_as_is(image):
    """Whether the launcher decodes the file of IMAGE, just opened, as it is: a GIF
    of one image that covers the screen, not interlaced, without a transparent
    colour (extensions it passes over)."""
    if image.format != "GIF" or image.n_frames != 1 or "transparency" in image.info:
        return False
    box = image.tile[0][1]
    args = image.tile[0][3]  # bits, interlaced, ...
    return box == (0, 0) + image.size and not args[1]


def gif_file(path):
    """The GIF the launcher carries for the picture at PATH."""
    image = load(path)  # bad input exits with its one line here
    with Image.open(path) as original:
        if carried_as_is(original):
            with open(path, "rb") as f:
                return f.read()
    out = io.BytesIO()
    image.save(out, "GIF", interlace=False)  # Pillow interlaces unless told not to
    return out.getvalue()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    picture, out = sys.argv[1:]
    data = gif_file(picture)
    with open(out + ".partial", "wb") as f:  # beside OUT, which it then replaces whole
        f.write(data)
    os.replace(out + ".partial", out)
