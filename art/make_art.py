#!/usr/bin/python3
"""Renders Tavrelo's splash picture and application icon.

Writes launcher/resources/splash.gif (490 x 517, 256-colour GIF89a whose
background colour C0C0FF is the last palette entry) and
launcher/resources/tavrelo.ico (32 x 32 and 16 x 16, 256 colours, with a
transparency mask). The artwork is drawn with PIL, but both files are encoded
here, so their bytes do not depend on PIL's writers. The same input always
gives byte-identical files.

Usage: /usr/bin/python3 art/make_art.py [--out-dir FOLDER]
"""

import argparse
import os
import struct
import sys

ART_DIR = os.path.dirname(os.path.abspath(__file__))
REPO_DIR = os.path.dirname(ART_DIR)
RESOURCE_DIR = os.path.join(REPO_DIR, "launcher", "resources")
FONT_DIR = "/usr/share/fonts/truetype/dejavu"

SPLASH_SIZE = (490, 517)
ICON_SIZES = (32, 16)

# The ink colours. BACKGROUND is the splash window's own brush colour.
BACKGROUND = (0xC0, 0xC0, 0xFF)
NAVY = (0x1B, 0x23, 0x50)
ACCENT = (0x3A, 0x4C, 0xC0)
WHITE = (0xF8, 0xF8, 0xFF)
SOFT = (0x9E, 0x9E, 0xE8)
BLACK = (0, 0, 0)
INKS = (NAVY, ACCENT, WHITE, SOFT)


# --- Palette and quantisation ---

def build_palette(first=None, last=None, steps=26):
    """Returns 256 colours: the inks, every ramp between two of them, and
    `first` at index 0 / `last` at index 255 when given.

    Anti-aliased edges only ever blend two neighbouring colours, so ramps
    between each pair of colours cover them with little visible error.
    """
    colours = [BACKGROUND] + list(INKS)
    entries = []
    if first is not None:
        entries.append(first)
    entries.extend(c for c in colours if c != last)
    for i, a in enumerate(colours):
        for b in colours[i + 1:]:
            for step in range(1, steps - 1):
                t = step / (steps - 1)
                entries.append(tuple(int(round(a[k] + (b[k] - a[k]) * t)) for k in range(3)))
    limit = 255 if last is not None else 256
    if len(entries) > limit:
        raise ValueError("palette needs %d entries, only %d are free" % (len(entries), limit))
    # Unused entries repeat black; the quantiser never picks them.
    usable = len(entries)
    entries.extend([BLACK] * (limit - len(entries)))
    if last is not None:
        entries.append(last)
    return entries, usable


class Quantiser:
    """Maps RGB colours to the nearest usable palette entry (cached)."""

    def __init__(self, palette, usable, extra=()):
        self.candidates = [(i, palette[i]) for i in list(range(usable)) + list(extra)]
        self.cache = {}
        for i, colour in reversed(self.candidates):
            self.cache[colour] = i  # exact colours map to their first entry

    def index(self, colour):
        found = self.cache.get(colour)
        if found is None:
            r, g, b = colour[:3]
            best = None
            for i, (pr, pg, pb) in self.candidates:
                # Weighted distance: the eye is most sensitive to green.
                d = 3 * (r - pr) ** 2 + 4 * (g - pg) ** 2 + 2 * (b - pb) ** 2
                if best is None or d < best[0]:
                    best = (d, i)
            found = best[1]
            self.cache[colour] = found
        return found


# --- GIF encoder ---

def lzw_encode(indices, min_code_size=8):
    """Compresses colour indices with GIF's variable-length LZW.

    The stream starts with a clear code, sends a clear code whenever the
    code table fills (4096 entries) and ends with end-of-information.
    """
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    width = min_code_size + 1
    next_code = end + 1
    table = {}
    emit(clear, width)
    if len(indices) == 0:
        emit(end, width)
    else:
        if max(indices) >= clear:
            raise ValueError("colour index does not fit the code size")
        prefix = indices[0]
        codes_since_clear = 0
        for pixel in indices[1:]:
            key = (prefix << 8) | pixel
            code = table.get(key)
            if code is not None:
                prefix = code
                continue
            emit(prefix, width)
            codes_since_clear += 1
            table[key] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
            if next_code == 4096:
                emit(clear, width)
                table.clear()
                width = min_code_size + 1
                next_code = end + 1
                codes_since_clear = 0
            prefix = pixel
        emit(prefix, width)
        # A decoder adds a table entry for this last code too (unless it is
        # the first after a clear), which can widen the end code.
        if codes_since_clear > 0:
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    """Splits data into GIF sub-blocks of at most 255 bytes plus terminator."""
    out = bytearray()
    for start in range(0, len(data), 255):
        chunk = data[start:start + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def encode_gif(width, height, palette, indices, background_index=255):
    """A GIF89a with a 256-entry global table and one full-size image."""
    if len(palette) != 256 or len(indices) != width * height:
        raise ValueError("palette must have 256 colours and indices one per pixel")
    out = bytearray(b"GIF89a")
    # Global table present, 8 bits per primary, unsorted, 2^(7+1) entries.
    out += struct.pack("<HHBBB", width, height, 0xF7, background_index, 0)
    for colour in palette:
        out += bytes(colour)
    # Image descriptor at 0,0; no local table, not interlaced.
    out += struct.pack("<BHHHHB", 0x2C, 0, 0, width, height, 0)
    out.append(8)
    out += sub_blocks(lzw_encode(indices, 8))
    out.append(0x3B)
    return bytes(out)


# --- ICO encoder ---

def icon_bitmap(size, palette, indices, opaque):
    """One icon image: BITMAPINFOHEADER, palette, XOR rows, AND mask.

    Rows run bottom-up. A set mask bit marks a transparent pixel; those
    pixels hold palette index 0 (black) so that XOR-ing leaves the screen
    untouched.
    """
    xor_stride = (size + 3) & ~3
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row = indices[y * size:(y + 1) * size]
        row_opaque = opaque[y * size:(y + 1) * size]
        xor += bytes(i if o else 0 for i, o in zip(row, row_opaque))
        xor += bytes(xor_stride - size)
        bits = bytearray(and_stride)
        for x, o in enumerate(row_opaque):
            if not o:
                bits[x >> 3] |= 0x80 >> (x & 7)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 8, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + bytes(xor) + bytes(mask)


def encode_ico(images):
    """An ICO holding `images`, a list of (size, palette, indices, opaque)."""
    bitmaps = [icon_bitmap(*image) for image in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (size, _, _, _), bitmap in zip(images, bitmaps):
        out += struct.pack("<BBBBHHII", size & 0xFF, size & 0xFF, 0, 0, 1, 8,
                           len(bitmap), offset)
        offset += len(bitmap)
    for bitmap in bitmaps:
        out += bitmap
    return bytes(out)


# --- Artwork ---

def font(name, size):
    from PIL import ImageFont
    return ImageFont.truetype(os.path.join(FONT_DIR, name), size)


def signal_arcs(draw, cx, cy, radii, width, side, colour, span=38):
    """Concentric arcs with round ends, opening left (side=-1) or right (+1)."""
    import math
    centre = 0 if side > 0 else 180
    for r in radii:
        start, stop = centre - span, centre + span
        box = (cx - r, cy - r, cx + r, cy + r)
        draw.arc(box, start, stop, fill=colour, width=int(round(width)))
        mid = r - width / 2.0
        for angle in (start, stop):
            a = math.radians(angle)
            ex, ey = cx + mid * math.cos(a), cy + mid * math.sin(a)
            half = width / 2.0
            draw.ellipse((ex - half, ey - half, ex + half, ey + half), fill=colour)


def draw_phone(draw, s, cx, top, w, h):
    """A handset with a message bubble on its screen; s is the drawing scale."""
    left, right, bottom = cx - w // 2, cx + w // 2, top + h
    draw.rounded_rectangle((left * s, top * s, right * s, bottom * s), radius=20 * s, fill=NAVY)
    # Screen.
    sl, st, sr, sb = left + 10, top + 30, right - 10, bottom - 36
    draw.rounded_rectangle((sl * s, st * s, sr * s, sb * s), radius=5 * s, fill=WHITE)
    # Earpiece slot and home button.
    draw.rounded_rectangle(((cx - 16) * s, (top + 14) * s, (cx + 16) * s, (top + 19) * s),
                           radius=3 * s, fill=SOFT)
    draw.ellipse(((cx - 10) * s, (bottom - 28) * s, (cx + 10) * s, (bottom - 8) * s),
                 outline=SOFT, width=3 * s)
    # Incoming message: a bubble with a tail and three dots.
    bl, bt, br, bb = sl + 12, st + 26, sr - 12, st + 70
    draw.rounded_rectangle((bl * s, bt * s, br * s, bb * s), radius=12 * s, fill=ACCENT)
    draw.polygon([((bl + 14) * s, (bb - 2) * s), ((bl + 30) * s, (bb - 2) * s),
                  ((bl + 8) * s, (bb + 12) * s)], fill=ACCENT)
    dot_y = (bt + bb) / 2.0
    for dx in (-18, 0, 18):
        x = (bl + br) / 2.0 + dx
        draw.ellipse(((x - 5) * s, (dot_y - 5) * s, (x + 5) * s, (dot_y + 5) * s), fill=WHITE)
    # Two lines of an earlier message, answered, below the bubble.
    for y, x0, x1 in ((bb + 28, br - 64, br), (bb + 42, br - 44, br), (bb + 56, br - 54, br)):
        draw.rounded_rectangle((x0 * s, (y - 3) * s, x1 * s, (y + 3) * s), radius=3 * s, fill=SOFT)


def centred_text(draw, cx, y, text, face, colour, tracking=0):
    """Draws text centred on cx with its ink box starting at y; returns the
    bottom of the ink."""
    widths = [draw.textlength(ch, font=face) for ch in text]
    total = sum(widths) + tracking * (len(text) - 1)
    x = cx - total / 2.0
    top = face.getbbox(text)[1]
    for ch, w in zip(text, widths):
        draw.text((x, y - top), ch, font=face, fill=colour)
        x += w + tracking
    return y - top + face.getbbox(text)[3]


def render_splash():
    """Returns (palette, indices) of the splash picture."""
    from PIL import Image, ImageDraw
    width, height = SPLASH_SIZE
    s = 4  # shapes are drawn 4x larger and reduced, for smooth edges
    big = Image.new("RGB", (width * s, height * s), BACKGROUND)
    draw = ImageDraw.Draw(big)
    cx = width // 2

    # Phone with signal arcs either side.
    phone_top, phone_w, phone_h = 54, 132, 222
    draw_phone(draw, s, cx, phone_top, phone_w, phone_h)
    arc_y = (phone_top + 86) * s
    for side in (-1, 1):
        arc_cx = (cx + side * 44) * s
        signal_arcs(draw, arc_cx, arc_y, [r * s for r in (62, 86, 110)], 9 * s, side, ACCENT)

    # Short rule between the name and the status line.
    rule_y = 408
    draw.rounded_rectangle(((cx - 48) * s, rule_y * s, (cx + 48) * s, (rule_y + 4) * s),
                           radius=2 * s, fill=ACCENT)

    # Frame: a dark outer line and a soft inner hairline.
    draw.rectangle((0, 0, width * s - 1, height * s - 1), outline=NAVY, width=3 * s)
    draw.rectangle((9 * s, 9 * s, (width - 9) * s - 1, (height - 9) * s - 1), outline=SOFT, width=s)

    image = big.resize((width, height), Image.BOX)
    draw = ImageDraw.Draw(image)
    # Text is drawn at its own size so that the font's hinting keeps it sharp.
    centred_text(draw, cx, 308, "Tavrelo", font("DejaVuSans-Bold.ttf", 78), NAVY, tracking=1)
    centred_text(draw, cx, 434, "Starting the SMS server\u2026", font("DejaVuSans.ttf", 20), NAVY)

    palette, usable = build_palette(last=BACKGROUND)
    quantiser = Quantiser(palette, usable, extra=(255,))
    indices = bytes(quantiser.index(p) for p in image.getdata())
    return palette, indices


# The 16 x 16 icon is drawn pixel by pixel: at that size smoothed shapes turn
# to mush. N navy, L lavender, W white, A accent, . transparent.
ICON_16 = (
    "..NNNNNNNNNNNN..",
    ".NNNNNNNNNNNNNN.",
    "NNNNNNLLLLNNNNNN",
    "NNNNNLLLLLLNNNNN",
    "NNNNNLWWWWLNNNNN",
    "NNNWNLAAAALNWNNN",
    "NNWNNLAAAALNNWNN",
    "NNWNNLWAWWLNNWNN",
    "NNWNNLWWWWLNNWNN",
    "NNWNNLWWWWLNNWNN",
    "NNNWNLWWWWLNWNNN",
    "NNNNNLLLLLLNNNNN",
    "NNNNNLLNNLLNNNNN",
    "NNNNNNLLLLNNNNNN",
    ".NNNNNNNNNNNNNN.",
    "..NNNNNNNNNNNN..",
)
ICON_16_INKS = {"N": NAVY, "L": BACKGROUND, "W": WHITE, "A": ACCENT}


def render_icon(size):
    """Returns (palette, indices, opaque) of one icon image."""
    palette, usable = build_palette(first=BLACK)
    quantiser = Quantiser(palette, usable)
    if size == 16:
        pixels = "".join(ICON_16)
        opaque = [p != "." for p in pixels]
        indices = bytes(quantiser.index(ICON_16_INKS[p]) if p != "." else 0 for p in pixels)
        return palette, indices, opaque

    from PIL import Image, ImageDraw
    s = 16  # drawn 16x larger and reduced, for smooth arcs and corners
    n = size * s
    colour = Image.new("RGB", (n, n), NAVY)
    shape = Image.new("L", (n, n), 0)
    draw = ImageDraw.Draw(colour)
    ImageDraw.Draw(shape).rounded_rectangle((0, 0, n - 1, n - 1), radius=7 * s, fill=255)

    def cells(x0, y0, x1, y1):
        """The box covering pixels x0..x1, y0..y1 inclusive."""
        return (x0 * s, y0 * s, (x1 + 1) * s - 1, (y1 + 1) * s - 1)

    # Handset on whole pixels so its edges stay crisp: lavender body, white
    # screen, a message bubble with a tail and the home button.
    draw.rounded_rectangle(cells(11, 4, 20, 27), radius=2 * s, fill=BACKGROUND)
    draw.rectangle(cells(12, 7, 19, 22), fill=WHITE)
    draw.rounded_rectangle(cells(13, 9, 18, 13), radius=s, fill=ACCENT)
    draw.rectangle(cells(14, 14, 14, 14), fill=ACCENT)
    draw.rectangle(cells(14, 16, 18, 16), fill=SOFT)
    draw.rectangle(cells(16, 18, 18, 18), fill=SOFT)
    draw.rectangle(cells(15, 24, 16, 25), fill=NAVY)
    draw.rectangle(cells(15, 5, 16, 5), fill=SOFT)
    for side in (-1, 1):
        signal_arcs(draw, (16 + side * 1.5) * s, 16 * s, [9.5 * s, 13.5 * s], 2 * s, side,
                    WHITE, span=36)

    colour = colour.resize((size, size), Image.BOX)
    shape = shape.resize((size, size), Image.BOX)
    opaque = [a >= 128 for a in shape.getdata()]
    indices = bytes(quantiser.index(p) if o else 0 for p, o in zip(colour.getdata(), opaque))
    return palette, indices, opaque


# --- Output ---

def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out-dir", default=RESOURCE_DIR,
                        help="folder for splash.gif and tavrelo.ico (default: %(default)s)")
    args = parser.parse_args(argv)

    palette, indices = render_splash()
    gif_bytes = encode_gif(SPLASH_SIZE[0], SPLASH_SIZE[1], palette, indices)
    icons = [(size,) + render_icon(size) for size in ICON_SIZES]
    ico_bytes = encode_ico(icons)

    import check_art  # beside this script
    problems = check_art.check_gif(gif_bytes) + check_art.check_ico(ico_bytes)
    if problems:
        for problem in problems:
            print("make_art: " + problem, file=sys.stderr)
        return 1

    os.makedirs(args.out_dir, exist_ok=True)
    for name, data in (("splash.gif", gif_bytes), ("tavrelo.ico", ico_bytes)):
        with open(os.path.join(args.out_dir, name), "wb") as f:
            f.write(data)
    print("splash.gif: %d bytes, tavrelo.ico: %d bytes" % (len(gif_bytes), len(ico_bytes)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
