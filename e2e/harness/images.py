"""Reading the driver's 24-bit BMP screenshots, and writing and reading them
as PNG, with the standard library only."""

import struct
import zlib


class Image:
    def __init__(self, width, height, rows):
        self.width = width
        self.height = height
        self.rows = rows  # top-down, each row bytes of R, G, B

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError(f"({x}, {y}) is outside {self.width}x{self.height}")
        row = self.rows[y]
        return tuple(row[3 * x:3 * x + 3])

    def hex(self, x, y):
        return "%02X%02X%02X" % self.pixel(x, y)


def read_bmp(path):
    with open(path, "rb") as handle:
        data = handle.read()
    if data[:2] != b"BM":
        raise ValueError(f"{path} is not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, _planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if bits != 24 or compression != 0:
        raise ValueError(f"{path}: only uncompressed 24-bit BMP files are read here")
    top_down = height < 0
    height = abs(height)
    stride = (width * 3 + 3) & ~3
    rows = []
    for index in range(height):
        start = offset + index * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(bytes(rgb))
    if not top_down:
        rows.reverse()
    return Image(width, height, rows)


def write_png(image, path):
    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in image.rows)
    header = struct.pack(">IIBBBBB", image.width, image.height, 8, 2, 0, 0, 0)
    with open(path, "wb") as handle:
        handle.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
                     + chunk(b"IEND", b""))


def read_png(path):
    """Reads a PNG as write_png writes it: 8-bit RGB, rows without filters."""
    with open(path, "rb") as handle:
        data = handle.read()
    position, header, compressed = 8, None, b""
    while position < len(data):
        length, kind = struct.unpack_from(">I4s", data, position)
        payload = data[position + 8:position + 8 + length]
        position += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", payload)
        elif kind == b"IDAT":
            compressed += payload
    width, height = header[:2]
    if header[2:] != (8, 2, 0, 0, 0):
        raise ValueError(f"{path}: only unfiltered 8-bit RGB PNG files are read here")
    raw = zlib.decompress(compressed)
    stride = 1 + 3 * width
    rows = [raw[y * stride:(y + 1) * stride] for y in range(height)]
    if any(row[0] != 0 for row in rows):
        raise ValueError(f"{path}: rows with filters are not read here")
    return Image(width, height, [row[1:] for row in rows])
