"""Problems of the committed splash picture, one frame of 490 x 517 (as docs/
shows it) in 256 opaque palette colours, mostly and lastly the window colour
C0C0FF, and of an icon, such as the one pe_check.py finds in the executable."""

from PIL import Image

BACKGROUND = (0xC0, 0xC0, 0xFF)


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


def icon_problems(source):
    try:
        with Image.open(source, formats=["ICO"]) as icon:
            sizes = ["%dx%d" % entry["dim"] for entry in icon.ico.entry]
            problems = [] if sorted(sizes) == ["16x16", "32x32"] else ["holds %s, expected 32x32 and 16x16" % sizes]
            for index, entry in enumerate(icon.ico.entry):
                problems += ["%dx%d: %s" % (entry["dim"] + (p,)) for p in image_problems(icon.ico, index, entry)]
            return problems
    except (OSError, SyntaxError, ValueError) as e:
        return ["not a readable icon: %s" % e]


def image_problems(ico, index, entry):
    """A 256-colour bitmap with a mask that clears its corners, not all of it,
    and only over black pixels (others would tint the screen)."""
    width, height = entry["dim"]
    expected = 40 + 4 * 256 + width * height + (width + 31) // 32 * 4 * height  # header, palette, pixels, mask
    if (entry["bpp"], entry["nb_color"]) != (8, 0):
        return ["%d bits per pixel, expected 8 (256 colours)" % entry["bpp"]]
    if entry["size"] != expected:  # a bitmap whose header says otherwise would not fit in it either
        return ["%d bytes, expected %d with the transparency mask" % (entry["size"], expected)]
    image = ico.frame(index)  # the mask is its alpha
    alpha, corners = image.getchannel("A"), ((0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1))
    tinting = sum(1 for r, g, b, a in image.getdata() if a == 0 and (r, g, b) != (0, 0, 0))
    return [problem for fault, problem in (
        (any(alpha.getpixel(xy) for xy in corners), "corners are not transparent in the mask"),
        (alpha.getextrema()[1] == 0, "the mask makes every pixel transparent"),
        (tinting, "%d transparent pixels are not black, so they would tint the screen" % tinting)) if fault]

