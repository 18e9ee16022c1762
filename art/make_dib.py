#!/usr/bin/env python3
"""make_dib.py SPLASH.gif OUT.bmp, run by the build: the bitmap the launcher
draws, a bottom-up 8-bit DIB with the GIF's colours, compressed as BI_RLE8.
Every row is coded in full and ends with end-of-line, the last with
end-of-bitmap, so the picture covers every pixel."""

import struct
import sys

from check_art import read_gif

END_OF_LINE, END_OF_BITMAP = b"\x00\x00", b"\x00\x01"


def run_length(row, x):
    length = 1
    while x + length < len(row) and length < 255 and row[x + length] == row[x]:
        length += 1
    return length


def encode_row(row):
    """Runs of two or more as (count, index); stretches without them in
    absolute mode (0, count, indices, padded to a word), which needs at least
    three pixels, so shorter stretches are runs of one."""
    out, x = bytearray(), 0
    while x < len(row):
        run = run_length(row, x)
        if run >= 2:
            out += bytes((run, row[x]))
            x += run
            continue
        start = x
        while x < len(row) and x - start < 255 and run_length(row, x) < 2:
            x += 1
        literal = row[start:x]
        out += (bytes((0, len(literal))) + literal + bytes(len(literal) & 1) if len(literal) >= 3
                else b"".join(bytes((1, index)) for index in literal))
    return bytes(out)


def encode_dib(width, height, palette, indices):
    """The .bmp file: file header, info header, palette (B, G, R, 0), rows."""
    bits = b"".join(encode_row(indices[y * width:(y + 1) * width]) + (END_OF_LINE if y else END_OF_BITMAP)
                    for y in reversed(range(height)))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(bits), 0, 0, len(palette), 0)
    offset = 14 + len(info) + len(colours)
    return struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset) + info + colours + bits


def main(gif_path, bmp_path):
    with open(gif_path, "rb") as f:
        gif = f.read()
    problems, palette, indices = read_gif(gif)
    for problem in problems:
        print("%s: %s" % (gif_path, problem), file=sys.stderr)
    if not problems:
        with open(bmp_path, "wb") as f:
            f.write(encode_dib(*struct.unpack_from("<HH", gif, 6), palette, indices))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]) if len(sys.argv) == 3 else 2)
