#!/usr/bin/env python3
"""Checks Tavrelo's splash picture and icon files (standard library only):
check_art.py SPLASH.gif ICON.ico

The splash must be a GIF89a of 490 x 517 pixels with a full 256-entry global
colour table ending in C0C0FF, exactly one non-interlaced full-size image,
no transparent colour, LZW data that decodes to exactly one index per pixel,
and more than half of its pixels in C0C0FF. The icon must hold a 32 x 32 and
then a 16 x 16 image, each a 256-colour bitmap with its transparency mask.

Prints one line per violated property and exits with 1 if there is any, 2 if
a file cannot be read, 0 if both files pass.
"""

import struct
import sys

GIF_SIZE = (490, 517)
BACKGROUND = (0xC0, 0xC0, 0xFF)
ICON_SIZES = (32, 16)


class Truncated(Exception):
    pass


class Reader:
    """Sequential little-endian reads that raise Truncated past the end."""

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, count):
        if self.pos + count > len(self.data):
            raise Truncated("file ends at byte %d, %d more bytes expected" %
                            (len(self.data), self.pos + count - len(self.data)))
        chunk = self.data[self.pos:self.pos + count]
        self.pos += count
        return chunk

    def byte(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def sub_blocks(self):
        """The concatenated payload of a sub-block chain up to its terminator."""
        out = bytearray()
        while True:
            size = self.byte()
            if size == 0:
                return bytes(out)
            out += self.take(size)


class LzwError(Exception):
    pass


def lzw_decode(data, min_code_size, limit):
    """Decodes GIF LZW data; returns (indices, bytes left after the end code).

    Raises LzwError on an invalid code, on output beyond `limit` indices, or
    when the data ends before the end-of-information code.
    """
    clear = 1 << min_code_size
    end = clear + 1
    table = [bytes((i,)) for i in range(clear)] + [b"", b""]
    width = min_code_size + 1
    avail = end + 1
    prev = None
    out = bytearray()
    acc = 0
    nbits = 0
    pos = 0
    while True:
        while nbits < width:
            if pos >= len(data):
                raise LzwError("LZW data ends before the end-of-information code "
                               "(%d pixels decoded)" % len(out))
            acc |= data[pos] << nbits
            pos += 1
            nbits += 8
        code = acc & ((1 << width) - 1)
        acc >>= width
        nbits -= width
        if code == clear:
            del table[end + 1:]
            width = min_code_size + 1
            avail = end + 1
            prev = None
            continue
        if code == end:
            return bytes(out), len(data) - pos
        if prev is None:
            if code >= clear:
                raise LzwError("LZW code %d refers to an empty table" % code)
            entry = table[code]
        else:
            if code < avail:
                entry = table[code]
                added = table[prev] + entry[:1]
            elif code == avail and avail < 4096:
                entry = added = table[prev] + table[prev][:1]
            else:
                raise LzwError("LZW code %d is not in the table (next free code %d)" %
                               (code, avail))
            if avail < 4096:
                table.append(added)
                avail += 1
                if avail == (1 << width) and width < 12:
                    width += 1
        out += entry
        prev = code
        if len(out) > limit:
            raise LzwError("LZW data holds more than the %d pixels of the image" % limit)


def check_gif(data):
    """Returns a list of the splash picture's violated properties."""
    return read_gif(data)[0]


def read_gif(data):
    """(problems, palette, indices): the violated properties, the global colour
    table and the first image's pixel indices (None where unreadable)."""
    problems = []
    palette = indices = None
    r = Reader(data)
    try:
        signature = r.take(6)
        if signature != b"GIF89a":
            problems.append("signature is %r, expected b'GIF89a'" % signature)
            if signature[:3] != b"GIF":
                return problems, palette, indices
        width, height = r.u16(), r.u16()
        if (width, height) != GIF_SIZE:
            problems.append("logical screen is %dx%d, expected %dx%d" %
                            ((width, height) + GIF_SIZE))
        packed = r.byte()
        r.take(2)  # background colour index, pixel aspect ratio
        if not packed & 0x80:
            problems.append("no global colour table")
        else:
            entries = 2 << (packed & 7)
            raw = r.take(3 * entries)
            palette = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
            if entries != 256:
                problems.append("global colour table has %d entries, expected 256" % entries)
            if palette[-1] != BACKGROUND:
                problems.append("last global colour is %02X%02X%02X, expected C0C0FF" %
                                palette[-1])

        images = 0
        while True:
            introducer = r.byte()
            if introducer == 0x3B:
                break
            if introducer == 0x21:
                label = r.byte()
                payload = r.sub_blocks()
                if label == 0xF9:
                    if len(payload) < 4:
                        problems.append("graphic control extension is %d bytes, expected 4" %
                                        len(payload))
                    elif payload[0] & 1:
                        problems.append("graphic control extension sets transparent "
                                        "colour %d" % payload[3])
                continue
            if introducer != 0x2C:
                problems.append("unknown block 0x%02X at byte %d" % (introducer, r.pos - 1))
                return problems, palette, indices
            images += 1
            left, top, w, h = r.u16(), r.u16(), r.u16(), r.u16()
            flags = r.byte()
            if images == 1 and (left, top, w, h) != (0, 0) + GIF_SIZE:
                problems.append("image is %dx%d at %d,%d, expected %dx%d at 0,0" %
                                ((w, h, left, top) + GIF_SIZE))
            if flags & 0x40:
                problems.append("image %d is interlaced" % images)
            colours = palette
            if flags & 0x80:
                problems.append("image %d has a local colour table" % images)
                raw = r.take(3 * (2 << (flags & 7)))
                colours = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
            min_code_size = r.byte()
            compressed = r.sub_blocks()
            if images != 1:
                continue
            if min_code_size != 8:
                problems.append("LZW minimum code size is %d, expected 8" % min_code_size)
                if not 2 <= min_code_size <= 11:
                    continue
            try:
                decoded, left_over = lzw_decode(compressed, min_code_size, w * h)
            except LzwError as e:
                problems.append(str(e))
                continue
            if left_over > 1:
                problems.append("%d bytes of LZW data follow the end-of-information code" %
                                left_over)
            if len(decoded) != w * h:
                problems.append("LZW data decodes to %d pixels, expected %d" %
                                (len(decoded), w * h))
            indices = decoded
            if colours is None or not indices:
                continue
            background = [i for i, c in enumerate(colours) if c == BACKGROUND]
            counts = [0] * 256
            for i in indices:
                counts[i] += 1
            share = sum(counts[i] for i in background)
            if 2 * share <= GIF_SIZE[0] * GIF_SIZE[1]:
                problems.append("only %d of %d pixels (%.1f%%) are C0C0FF, expected more "
                                "than half" % (share, GIF_SIZE[0] * GIF_SIZE[1],
                                               100.0 * share / (GIF_SIZE[0] * GIF_SIZE[1])))
            if max(indices) >= len(colours):
                problems.append("pixel index %d is outside the colour table" % max(indices))
        if images != 1:
            problems.append("file holds %d images, expected exactly 1" % images)
        if r.pos != len(data):
            problems.append("%d bytes follow the trailer" % (len(data) - r.pos))
    except Truncated as e:
        problems.append("truncated: " + str(e))
    return problems, palette, indices


def check_ico(data):
    """Returns a list of the icon file's violated properties."""
    problems = []
    if len(data) < 6:
        return ["truncated: %d bytes, shorter than the icon header" % len(data)]
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        problems.append("header is reserved=%d type=%d, expected 0 and 1 (icon)" %
                        (reserved, kind))
    if count != len(ICON_SIZES):
        problems.append("icon holds %d images, expected %d (32x32 then 16x16)" %
                        (count, len(ICON_SIZES)))
    if 6 + 16 * count > len(data):
        problems.append("truncated: the %d directory entries do not fit in %d bytes" %
                        (count, len(data)))
        return problems
    expected_offset = 6 + 16 * count
    for n in range(count):
        w, h, colours, zero, planes, bits, size, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * n)
        w, h = w or 256, h or 256
        name = "image %d (%dx%d)" % (n + 1, w, h)
        if n < len(ICON_SIZES) and (w, h) != (ICON_SIZES[n], ICON_SIZES[n]):
            problems.append("%s: expected %dx%d in this place" %
                            (name, ICON_SIZES[n], ICON_SIZES[n]))
        if w != h:
            problems.append("%s: not square" % name)
        if colours != 0 or zero != 0:
            problems.append("%s: colour count %d and reserved %d, expected 0 and 0" %
                            (name, colours, zero))
        if planes != 1 or bits != 8:
            problems.append("%s: %d planes and %d bits per pixel, expected 1 and 8" %
                            (name, planes, bits))
        xor_size = ((w + 3) & ~3) * h
        and_size = ((w + 31) // 32) * 4 * h
        expected_size = 40 + 1024 + xor_size + and_size
        if size != expected_size:
            problems.append("%s: %d bytes in resource, expected %d (header, palette, "
                            "pixels and mask)" % (name, size, expected_size))
        if offset != expected_offset:
            problems.append("%s: data at offset %d, expected %d" % (name, offset,
                                                                     expected_offset))
        expected_offset = offset + size
        if offset + size > len(data):
            problems.append("%s: data runs past the end of the file" % name)
            continue
        problems += check_icon_bitmap(name, data[offset:offset + size], w, h,
                                      xor_size, and_size)
    if expected_offset != len(data) and not any("past the end" in p for p in problems):
        problems.append("file is %d bytes, its images end at %d" % (len(data), expected_offset))
    return problems


def check_icon_bitmap(name, bitmap, w, h, xor_size, and_size):
    problems = []
    if len(bitmap) < 40 + 1024:
        return ["%s: too short for a header and a 256-colour palette" % name]
    (header_size, bw, bh, planes, bits, compression, image_size, _, _, used,
     _) = struct.unpack_from("<IiiHHIIiiII", bitmap, 0)
    if header_size != 40:
        problems.append("%s: header is %d bytes, expected a 40-byte BITMAPINFOHEADER" %
                        (name, header_size))
    if (bw, bh) != (w, 2 * h):
        problems.append("%s: bitmap is %dx%d, expected %dx%d (height covers pixels "
                        "and mask)" % (name, bw, bh, w, 2 * h))
    if planes != 1 or bits != 8:
        problems.append("%s: bitmap has %d planes and %d bits, expected 1 and 8" %
                        (name, planes, bits))
    if compression != 0:
        problems.append("%s: bitmap compression %d, expected 0 (uncompressed)" %
                        (name, compression))
    if image_size not in (0, xor_size + and_size):
        problems.append("%s: image size field %d, expected %d or 0" %
                        (name, image_size, xor_size + and_size))
    if used not in (0, 256):
        problems.append("%s: %d palette colours in use, expected 256" % (name, used))
    if len(bitmap) != 40 + 1024 + xor_size + and_size or problems:
        return problems
    palette = [tuple(bitmap[40 + 4 * i:43 + 4 * i][::-1]) for i in range(256)]
    stride = (w + 3) & ~3
    mask_stride = ((w + 31) // 32) * 4
    xor = bitmap[1064:1064 + xor_size]
    mask = bitmap[1064 + xor_size:]
    transparent = 0
    bad_pixels = 0
    corners = []
    for y in range(h):  # stored bottom-up: y counts from the bottom row
        for x in range(w):
            clear = mask[y * mask_stride + x // 8] & (0x80 >> (x % 8))
            if clear:
                transparent += 1
                if palette[xor[y * stride + x]] != (0, 0, 0):
                    bad_pixels += 1
            if x in (0, w - 1) and y in (0, h - 1):
                corners.append(bool(clear))
    if not all(corners):
        problems.append("%s: corners are not transparent in the mask" % name)
    if transparent == w * h:
        problems.append("%s: mask makes every pixel transparent" % name)
    if bad_pixels:
        problems.append("%s: %d transparent pixels are not black, so they would tint "
                        "the screen" % (name, bad_pixels))
    return problems


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().split("\n\n")[0], file=sys.stderr)
        return 2
    failed = False
    for path, check in zip(argv, (check_gif, check_ico)):
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as e:
            print("%s: cannot read: %s" % (path, e.strerror), file=sys.stderr)
            return 2
        problems = check(data)
        for problem in problems:
            print("%s: %s" % (path, problem))
        if problems:
            failed = True
        else:
            print("%s: ok" % path)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
