"""Problems of the committed splash picture, one frame of 490 x 517 (as docs/
shows it) in 256 opaque palette colours, mostly and lastly the window colour
C0C0FF, and of an icon, such as the one pe_check.py finds in the executable."""

import collections
import io
import pathlib
import struct

from PIL import Image

BACKGROUND = (0xC0, 0xC0, 0xFF)
IconEntry = collections.namedtuple("IconEntry", "dim bpp colours size offset")


def splash_problems(path):
    try:
        with Image.open(path) as image:
            picture, frames = image.convert("RGB"), getattr(image, "n_frames", 1)
            palette, transparent = image.getpalette() or [], "transparency" in image.info
    except (OSError, SyntaxError, ValueError) as e:
        return ["not a readable picture: %s" % e]
    problems = [] if picture.size == (490, 517) else ["%d x %d pixels, expected 490 x 517" % picture.size]
    if frames != 1:
        problems.append("%d frames, expected 1" % frames)
    if len(palette) != 3 * 256 or transparent:
        problems.append("not 256 opaque palette colours (%d%s)" % (len(palette) // 3, ", one transparent" * transparent))
    elif tuple(palette[-3:]) != BACKGROUND:
        problems.append("last palette colour is %02X%02X%02X, expected C0C0FF" % tuple(palette[-3:]))
    background = dict((c, n) for n, c in picture.getcolors(picture.width * picture.height)).get(BACKGROUND, 0)
    if 2 * background <= picture.width * picture.height:
        problems.append("only %d pixels are C0C0FF, expected more than half" % background)
    return problems


def icon_directory(data):
    """The (width, height), bits per pixel, colour count, byte size and offset
    that each entry of an ICO file's directory claims (ICONDIR, then one 16-byte
    ICONDIRENTRY an image). Pillow decodes the images but keeps what the
    directory says to itself, and that is what Windows goes by."""
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if (reserved, kind) != (0, 1) or len(data) < 6 + 16 * count:
        raise ValueError("no icon directory")
    entries = []
    for index in range(count):
        width, height, colours, _, _, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * index)
        entries.append(IconEntry((width or 256, height or 256), bpp, colours, size, offset))
    return entries


def icon_problems(source):
    if hasattr(source, "read"):
        source.seek(0)  # Debian 13's icoextract (0.1.6) hands over its icon positioned at the end
        data = source.read()
    else:
        data = pathlib.Path(source).read_bytes()
    try:
        entries = icon_directory(data)
        sizes = ["%dx%d" % entry.dim for entry in entries]
        problems = [] if sorted(sizes) == ["16x16", "32x32"] else ["holds %s, expected 32x32 and 16x16" % sizes]
        for entry in entries:
            with Image.open(io.BytesIO(data), formats=["ICO"]) as icon:
                icon.size = entry.dim  # the image that load() decodes
                icon.load()
                problems += ["%dx%d: %s" % (entry.dim + (p,)) for p in image_problems(icon, entry)]
        return problems
    except (OSError, SyntaxError, ValueError, struct.error) as e:
        return ["not a readable icon: %s" % e]


def image_problems(image, entry):
    """A 256-colour bitmap with a mask that clears its corners, not all of it,
    and only over black pixels (others would tint the screen)."""
    width, height = image.size
    expected = 40 + 4 * 256 + width * height + (width + 31) // 32 * 4 * height  # header, palette, pixels, mask
    if (entry.bpp, entry.colours) != (8, 0):
        return ["%d bits per pixel, expected 8 (256 colours)" % entry.bpp]
    if entry.size != expected:  # a bitmap whose header says otherwise would not fit in it either
        return ["%d bytes, expected %d with the transparency mask" % (entry.size, expected)]
    image = image.convert("RGBA")  # the mask is its alpha
    alpha, corners = image.getchannel("A"), ((0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1))
    tinting = sum(1 for r, g, b, a in image.getdata() if a == 0 and (r, g, b) != (0, 0, 0))
    return [problem for fault, problem in (
        (any(alpha.getpixel(xy) for xy in corners), "corners are not transparent in the mask"),
        (alpha.getextrema()[1] == 0, "the mask makes every pixel transparent"),
        (tinting, "%d transparent pixels are not black, so they would tint the screen" % tinting)) if fault]
