#!/usr/bin/env python3
"""Draws the program's artwork and the bundled sample pictures.

Run from anywhere: `python3 res/make_artwork.py`. The output is the same on
every run (no randomness, no clock), so the committed files can be remade and
compared. Only the standard library is used: the files are packed with struct.

  res/about.bmp      About picture, 313 x 73, 8 bits with a 256-entry table
  res/dropper.cur    eyedropper cursor, 32 x 32, 16 colours, hot spot at 0,0
  res/dolphin.ico    application icon, 32 x 32, 16 colours
  samples/sample.bmp 200 x 120, 8 bits, a small landscape on a magenta mat
  samples/sample.tim 64 x 48, 8-bit TIM with a 256-colour look-up table
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


# --- pixel grids --------------------------------------------------------------
# A picture is a list of rows (top row first) of RGB tuples, or None where a
# cursor or icon is see-through.

def blank(width, height, colour=None):
    return [[colour] * width for _ in range(height)]


def put(img, x, y, colour):
    if 0 <= y < len(img) and 0 <= x < len(img[0]):
        img[y][x] = colour


def fill_rect(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1):
        for x in range(x0, x1):
            put(img, x, y, colour)


def fill_disc(img, cx, cy, r, colour):
    for y in range(int(cy - r) - 1, int(cy + r) + 2):
        for x in range(int(cx - r) - 1, int(cx + r) + 2):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                put(img, x, y, colour)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


# --- a small hand-made font ---------------------------------------------------
# Proportional glyphs, 7 rows above the baseline and 2 below for descenders.

GLYPHS = {
    'Q': [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    'G': [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."],
    'I': ["###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"],
    'F': ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    'V': ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    'u': [".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"],
    'o': [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    'l': ["##.", ".#.", ".#.", ".#.", ".#.", ".#.", ".##"],
    'b': ["#....", "#....", "####.", "#...#", "#...#", "#...#", "####."],
    'e': [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    'r': [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    's': [".....", ".....", ".####", "#....", ".###.", "....#", "####."],
    'i': ["#", ".", "#", "#", "#", "#", "#"],
    'n': [".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"],
    't': [".#..", ".#..", "####", ".#..", ".#..", ".#..", "..##"],
    'a': [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    'm': [".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
    'p': [".....", ".....", "####.", "#...#", "#...#", "#...#", "####.",
          "#....", "#...."],
    'c': [".....", ".....", ".###.", "#....", "#....", "#....", ".###."],
    'v': [".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    '1': [".#.", "##.", ".#.", ".#.", ".#.", ".#.", "###"],
    '0': [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    '.': [".", ".", ".", ".", ".", ".", "#"],
    '~': ["......", "......", ".##...", "#..#.#", "....#.", "......", "......"],
    ' ': ["...", "...", "...", "...", "...", "...", "..."],
}


def text_width(text, scale):
    return sum((len(GLYPHS[c][0]) + 1) * scale for c in text) - scale


def text_mask(text, scale):
    """The set of (x, y) pixels a text covers, y 0 at the cap line."""
    pixels = set()
    pen = 0
    for c in text:
        rows = GLYPHS[c]
        for gy, row in enumerate(rows):
            for gx, cell in enumerate(row):
                if cell == '#':
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels.add((pen + gx * scale + dx, gy * scale + dy))
        pen += (len(rows[0]) + 1) * scale
    return pixels


def draw_text(img, text, x, y, scale, fill, outline=None, shadow=None):
    mask = text_mask(text, scale)
    if shadow is not None:
        for px, py in mask:
            put(img, x + px + 1, y + py + 1, shadow)
    if outline is not None:
        for px, py in mask:
            for dx in (-1, 0, 1):
                for dy in (-1, 0, 1):
                    if (px + dx, py + dy) not in mask:
                        put(img, x + px + dx, y + py + dy, outline)
    height = 7 * scale
    for px, py in mask:
        colour = fill(py / max(1, height - 1)) if callable(fill) else fill
        put(img, x + px, y + py, colour)


# --- file writers -------------------------------------------------------------

def palette_of(img, fixed=()):
    """Colour table for an indexed picture: `fixed` first, then each new colour
    in scan order. Raises if more than 256 colours are used."""
    table = list(fixed)
    seen = {c: i for i, c in enumerate(table)}
    for row in img:
        for c in row:
            if c is not None and c not in seen:
                seen[c] = len(table)
                table.append(c)
    if len(table) > 256:
        raise ValueError("picture uses %d colours" % len(table))
    return table, seen


def bmp8_bytes(img, table):
    """An uncompressed 8-bit bitmap file with a 256-entry colour table."""
    index = {c: i for i, c in reversed(list(enumerate(table)))}
    height, width = len(img), len(img[0])
    stride = (width + 3) & ~3
    pixels = bytearray()
    for row in reversed(img):
        pixels += bytes(index[c] for c in row) + bytes(stride - width)
    colours = bytearray()
    for i in range(256):
        r, g, b = table[i] if i < len(table) else (0, 0, 0)
        colours += bytes((b, g, r, 0))
    offset = 14 + 40 + len(colours)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(pixels),
                       2835, 2835, 256, 0)
    return header + info + bytes(colours) + bytes(pixels)


def icon_bytes(img, table, kind, hotspot=(0, 0)):
    """A one-image .ico (kind 1) or .cur (kind 2) file: 32 x 32, 4 bits.
    None pixels are see-through (AND bit 1, colour index 0)."""
    size = 32
    index = {c: i for i, c in enumerate(table)}
    xor = bytearray()
    mask = bytearray()
    for row in reversed(img):
        nibbles = [0 if c is None else index[c] for c in row]
        xor += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is None else 0)
        mask += struct.pack('>I', bits)
    colours = bytearray()
    for i in range(16):
        r, g, b = table[i] if i < len(table) else (0, 0, 0)
        colours += bytes((b, g, r, 0))
    info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                       len(xor) + len(mask), 0, 0, 0, 0)
    image = info + bytes(colours) + bytes(xor) + bytes(mask)
    if kind == 1:
        planes_or_x, bits_or_y = 1, 4
    else:
        planes_or_x, bits_or_y = hotspot
    directory = struct.pack('<HHH', 0, kind, 1)
    entry = struct.pack('<BBBBHHII', size, size, 16, 0, planes_or_x, bits_or_y,
                        len(image), 6 + 16)
    return directory + entry + image


def to15(c):
    """An RGB colour as a 16-bit TIM colour: red bits 0-4, green 5-9, blue 10-14."""
    r, g, b = (round(v * 31 / 255) for v in c)
    return r | (g << 5) | (b << 10)


def from15(v):
    return tuple((v >> s & 31) * 255 // 31 for s in (0, 5, 10))


def tim8_bytes(img, table):
    height, width = len(img), len(img[0])
    assert width % 2 == 0
    index = {c: i for i, c in reversed(list(enumerate(table)))}
    clut = b''.join(struct.pack('<H', to15(table[i]) if i < len(table) else 0)
                    for i in range(256))
    clut_block = struct.pack('<IHHHH', 12 + len(clut), 0, 0, 256, 1) + clut
    pixels = b''.join(bytes(index[c] for c in row) for row in img)
    image_block = struct.pack('<IHHHH', 12 + len(pixels), 0, 0, width // 2, height)
    return struct.pack('<II', 16, 9) + clut_block + image_block + pixels


def write(path, data):
    full = os.path.join(ROOT, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, 'wb') as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (path, len(data)))


# --- About picture ------------------------------------------------------------

def about_picture():
    width, height = 313, 73
    navy, teal, violet = (18, 32, 96), (0, 118, 140), (92, 44, 140)
    img = blank(width, height)
    # Diagonal gradient, quantised to 48 steps so the table stays small.
    for y in range(height):
        for x in range(width):
            t = (x / (width - 1)) * 0.8 + (y / (height - 1)) * 0.2
            step = round(t * 47) / 47
            a, b, u = (navy, teal, step * 2) if step < 0.5 else (teal, violet, step * 2 - 1)
            img[y][x] = mix(a, b, u)
    # Double border: gold outside, dark inside.
    gold, dark = (236, 196, 72), (8, 12, 40)
    for y in range(height):
        for x in range(width):
            edge = min(x, y, width - 1 - x, height - 1 - y)
            if edge < 2:
                img[y][x] = gold
            elif edge == 2:
                img[y][x] = dark

    # A little framed picture on the left: sky, sun, hill.
    fx, fy = 10, 9
    fill_rect(img, fx - 1, fy - 1, fx + 31, fy + 27, dark)
    fill_rect(img, fx, fy, fx + 30, fy + 26, (250, 250, 240))
    for y in range(fy + 2, fy + 24):
        fill_rect(img, fx + 2, y, fx + 28, y + 1, mix((96, 170, 250), (200, 230, 255), (y - fy) / 24))
    fill_disc(img, fx + 20, fy + 8, 4, (255, 214, 40))
    for x in range(fx + 2, fx + 28):
        top = fy + 17 + round(3 * math.cos((x - fx) / 5.0))
        fill_rect(img, x, top, x + 1, fy + 24, (60, 160, 70))

    # The About box shows only the left part of the picture (its 175 dialog
    # units come to about 240 to 260 pixels), so every word stays left of
    # `shown`; the rest is gradient and wave.
    shown = 240

    # Title with a gradient fill, an outline and a soft shadow.
    title = "Quolb~GIF"
    tx = 50 + (shown - 50 - text_width(title, 3)) // 2
    draw_text(img, title, tx, 7, 3,
              lambda t: mix((255, 255, 255), (255, 210, 90), t),
              outline=dark, shadow=(10, 20, 60))

    # A wave under the title, from the frame to the right border.
    for x in range(50, width - 8):
        y = 32 + round(1.6 * math.sin(x / 4.0))
        put(img, x, y, (140, 220, 240))
        put(img, x, y + 1, (60, 150, 200))

    # Bubbles rising on the right, where the box may cut the picture off.
    for bx, by, br in ((258, 18, 4), (276, 10, 2.5), (290, 22, 5), (270, 48, 3), (297, 52, 2)):
        for y in range(int(by - br) - 1, int(by + br) + 2):
            for x in range(int(bx - br) - 1, int(bx + br) + 2):
                d = math.hypot(x - bx, y - by)
                if br - 1 < d <= br:
                    put(img, x, y, (170, 235, 250))
        put(img, int(bx - br / 2), int(by - br / 2), (255, 255, 255))

    draw_text(img, "Version 1.0.0", shown - 4 - text_width("Version 1.0.0", 2), 38, 2,
              (235, 240, 255), shadow=dark)
    tag = "bitmap to GIF conversion"
    draw_text(img, tag, shown - 4 - text_width(tag, 1), 58, 1,
              (255, 230, 150), shadow=dark)
    return img


# --- eyedropper cursor --------------------------------------------------------

def dropper_cursor():
    """A yellow dropper lying on the diagonal, its tip on pixel (0, 0)."""
    black, yellow = (0, 0, 0), (255, 232, 0)
    shade, light, glass = (196, 150, 0), (255, 255, 200), (255, 248, 150)
    img = blank(32, 32)

    def radius(t):
        if t < 5:       # the tip, narrowing to a point
            return 0.4 + t * 0.25
        if t < 22:      # the glass tube
            return 1.7
        if t < 25:      # the collar
            return 3.6
        if t < 37:      # the bulb, rounded at its end
            return 3.2 + 0.6 * math.sin((t - 25) / 12 * math.pi)
        if t < 41.5:
            return 3.2 * math.sqrt(max(0.0, 1 - ((t - 37) / 4.5) ** 2))
        return -1

    inside = set()
    for y in range(32):
        for x in range(32):
            t = (x + y) / math.sqrt(2)
            d = (x - y) / math.sqrt(2)
            if abs(d) <= radius(t):
                inside.add((x, y))
    for (x, y) in inside:
        t = (x + y) / math.sqrt(2)
        d = (x - y) / math.sqrt(2)
        colour = yellow
        if t < 22:
            colour = glass
        if d > 0.9 and t >= 5:
            colour = shade
        if d < -0.9 and 25 <= t < 40:
            colour = light
        img[y][x] = colour
    for y in range(32):
        for x in range(32):
            if (x, y) in inside:
                continue
            if any((x + dx, y + dy) in inside for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                img[y][x] = black
    img[0][0] = black  # the very tip: the pixel that is picked
    # Black first: see-through pixels are index 0 under an AND bit of 1.
    table = [black, yellow, shade, light, glass]
    return img, table


# --- dolphin icon -------------------------------------------------------------

def dolphin_icon():
    pink, deep, pale = (255, 140, 190), (200, 70, 130), (255, 200, 225)
    black, white = (0, 0, 0), (255, 255, 255)
    blue, navy, foam = (40, 110, 230), (20, 50, 150), (150, 210, 255)
    img = blank(32, 32)

    def in_head(x, y):
        head = ((x - 13) / 9.5) ** 2 + ((y - 13) / 9.0) ** 2 <= 1
        beak = ((x - 23.5) / 6.5) ** 2 + ((y - 16.5) / 2.6) ** 2 <= 1 and x > 18
        neck = 6 <= x <= 19 and 13 <= y <= 26
        return head or beak or neck

    def water_top(x):
        return 23 + round(1.5 * math.sin(x / 2.6))

    for y in range(32):
        for x in range(32):
            if y >= water_top(x):
                continue
            if in_head(x, y):
                # light underside, darker back
                if y >= 16 and x >= 14:
                    img[y][x] = pale
                elif x + y < 14:
                    img[y][x] = deep
                else:
                    img[y][x] = pink
    # outline the head (from a copy, so the outline does not feed itself)
    body = [row[:] for row in img]
    for y in range(32):
        for x in range(32):
            if body[y][x] is None and y < water_top(x):
                if any(0 <= x + dx < 32 and 0 <= y + dy < 32 and body[y + dy][x + dx]
                       is not None for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                    img[y][x] = deep
    # mouth line, eye and glint
    for x in range(19, 29):
        put(img, x, 16 + (1 if x > 26 else 0), deep)
    fill_rect(img, 17, 10, 19, 12, black)
    put(img, 17, 10, white)
    # blow-hole
    put(img, 10, 5, deep)
    put(img, 11, 5, deep)
    # waves: three bands with foam crests
    for x in range(32):
        top = water_top(x)
        for y in range(top, 32):
            depth = y - top
            img[y][x] = foam if depth == 0 else (blue if depth < 4 else navy)
        y2 = 28 + round(1.2 * math.sin(x / 2.6 + 2.2))
        put(img, x, y2, foam if (x // 3) % 2 == 0 else blue)
    table = [black, white, pink, deep, pale, blue, navy, foam]
    return img, table


# --- sample pictures ----------------------------------------------------------

MAGENTA = (255, 0, 255)


def sample_picture():
    """A landscape postcard on a solid magenta mat: the mat is the colour a
    user would pick to make transparent."""
    width, height = 200, 120
    img = blank(width, height, MAGENTA)
    left, top, right, bottom = 12, 10, 188, 110
    sky = [(40, 90, 200), (60, 120, 220), (90, 150, 235), (130, 185, 245), (175, 215, 250)]
    band = (bottom - top) // len(sky) + 1
    for y in range(top, bottom):
        fill_rect(img, left, y, right, y + 1, sky[min(len(sky) - 1, (y - top) // band)])
    fill_disc(img, 150, 36, 14, (255, 200, 0))
    fill_disc(img, 150, 36, 9, (255, 240, 80))
    for x in range(left, right):
        far = 78 + round(10 * math.sin(x / 17.0))
        near = 92 + round(6 * math.sin(x / 11.0 + 1.0))
        fill_rect(img, x, far, x + 1, bottom, (70, 150, 70))
        fill_rect(img, x, near, x + 1, bottom, (30, 110, 40))
    # a red house with a dark roof
    fill_rect(img, 50, 80, 72, 96, (200, 40, 40))
    for i in range(13):
        fill_rect(img, 48 + i, 80 - i, 74 - i, 81 - i, (90, 50, 30))
    fill_rect(img, 58, 87, 64, 96, (250, 240, 220))
    # white frame around the scene
    for y in range(top - 2, bottom + 2):
        for x in range(left - 2, right + 2):
            if not (left <= x < right and top <= y < bottom):
                put(img, x, y, (250, 250, 250))
    fixed = [(0, 0, 0), (255, 255, 255), (128, 128, 128), MAGENTA]
    table, _ = palette_of(img, fixed)
    # Fill the rest of the table with a grey ramp of colours not used, so that
    # every colour the picture shows has exactly one index.
    used = set(table)
    level = 4
    while len(table) < 256:
        c = (level, level, level + 1)
        if c not in used:
            table.append(c)
            used.add(c)
        level += 1
    return img, table


def sample_tim_picture():
    """A sailing boat, 64 x 48, in colours that survive 5-bit channels."""
    width, height = 64, 48
    sea, deep_sea, sky, sun = from15(to15((40, 100, 200))), from15(to15((20, 60, 150))), \
        from15(to15((150, 200, 250))), from15(to15((255, 160, 40)))
    hull, sail, mast = from15(to15((120, 60, 20))), from15(to15((255, 255, 255))), \
        from15(to15((60, 40, 20)))
    img = blank(width, height, sky)
    fill_disc(img, 50, 10, 6, sun)
    for y in range(30, height):
        fill_rect(img, 0, y, width, y + 1, sea if y < 38 else deep_sea)
    for i in range(7):
        fill_rect(img, 14 + i, 30 + i, 46 - i, 31 + i, hull)
    fill_rect(img, 30, 6, 32, 30, mast)
    for y in range(8, 28):
        fill_rect(img, 32, y, 33 + (y - 8), y + 1, sail)
        fill_rect(img, 29 - (y - 8) // 2, y, 30, y + 1, sail)
    table, _ = palette_of(img)
    return img, table


def main():
    about = about_picture()
    table, _ = palette_of(about)
    write('res/about.bmp', bmp8_bytes(about, table))

    cursor, table = dropper_cursor()
    write('res/dropper.cur', icon_bytes(cursor, table, 2, hotspot=(0, 0)))

    icon, table = dolphin_icon()
    write('res/dolphin.ico', icon_bytes(icon, table, 1))

    sample, table = sample_picture()
    write('samples/sample.bmp', bmp8_bytes(sample, table))

    boat, table = sample_tim_picture()
    write('samples/sample.tim', tim8_bytes(boat, table))


if __name__ == '__main__':
    main()
