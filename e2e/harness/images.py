"""Screenshots and reference pictures, read and compared with Pillow."""

from dataclasses import dataclass
from pathlib import Path

from PIL import Image, ImageChops

# Two renderings of the same window may round a stretched pixel's channel one
# step apart: Wine's 32-bit and 64-bit GDI do, and so do real display
# drivers. They agree everywhere else. A picture moved by one pixel changes
# its edges by far more than one step, and a wrong colour, or a picture
# missing, changes far more pixels than this share.
CHANNEL_TOLERANCE = 1
SHARE_TOLERANCE = 0.01


def read_rgb(path):
    """Any picture file as RGB."""
    with Image.open(path) as image:
        return image.convert("RGB")


def read_screenshot(path, inspection):
    """The screenshot the driver saved during INSPECTION: the rows of its
    captured rectangle, top row first, blue, green and red bytes per pixel,
    each row padded to a multiple of 4 bytes."""
    width, height = inspection["captured_rect"]["width"], inspection["captured_rect"]["height"]
    return Image.frombytes("RGB", (width, height), Path(path).read_bytes(), "raw", "BGR", (3 * width + 3) & ~3)


def hex_colour(image, x, y):
    if not (0 <= x < image.width and 0 <= y < image.height):
        raise IndexError(f"({x}, {y}) is outside {image.width}x{image.height}")
    return "%02X%02X%02X" % image.getpixel((x, y))


@dataclass
class Difference:
    total: int   # pixels compared
    off: int     # pixels that differ in any channel
    worst: int   # the largest difference of one channel
    mean: float  # the mean difference over all channels and pixels

    @property
    def share(self):
        return self.off / self.total if self.total else 0.0

    def within(self, channel=CHANNEL_TOLERANCE, share=SHARE_TOLERANCE):
        return self.worst <= channel and self.share <= share

    def __str__(self):
        return (f"{self.off} of {self.total} pixels differ ({100 * self.share:.2f} %), "
                f"by at most {self.worst}, on average {self.mean:.3f} per channel")


def compare(actual, reference, box=None):
    """How ACTUAL differs from REFERENCE (RGB images of one size), within BOX
    (left, top, right, bottom) or over the whole picture."""
    if actual.size != reference.size:
        raise ValueError(f"sizes differ: {actual.size} against {reference.size}")
    if box:
        actual, reference = actual.crop(box), reference.crop(box)
    difference = ImageChops.difference(actual, reference)
    red, green, blue = difference.split()
    per_pixel = ImageChops.lighter(ImageChops.lighter(red, green), blue)
    total = per_pixel.width * per_pixel.height
    histogram = difference.histogram()
    channel_sum = sum(value * count for band in range(3) for value, count in
                      enumerate(histogram[256 * band:256 * (band + 1)]))
    return Difference(total=total, off=total - per_pixel.histogram()[0], worst=per_pixel.getextrema()[1],
                      mean=channel_sum / (3 * total) if total else 0.0)


def resembles(actual, expected, factor=4, far=48, share=0.005, mean=6.0):
    """(verdict, reason): whether ACTUAL, a picture as GDI stretched it (with
    HALFTONE, after its reduction to 256 colours), shows EXPECTED, the same
    picture stretched by Pillow. Both are first reduced FACTOR times (a pixel
    for the mean of each FACTOR x FACTOR block), which evens out what filter
    and palette change in single pixels. Then the mean difference per channel
    must be at most MEAN, and at most SHARE of the pixels may differ by more
    than FAR in a channel. Wine's rendering of the test pictures has none that
    far off; moved by two pixels, 1 % to 4 % are, on the picture's edges, and
    a wrong or missing picture fails both bounds many times over."""
    actual, expected = actual.reduce(factor), expected.reduce(factor)
    red, green, blue = ImageChops.difference(actual, expected).split()
    histogram = ImageChops.lighter(ImageChops.lighter(red, green), blue).histogram()
    far_share = sum(histogram[far + 1:]) / sum(histogram)
    difference = compare(actual, expected)
    return (difference.mean <= mean and far_share <= share,
            f"reduced {factor} times: {difference}; {100 * far_share:.2f} % of pixels differ by more than {far}")
