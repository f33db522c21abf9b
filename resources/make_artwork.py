#!/usr/bin/env python3
"""Draws Mimicore's artwork: the skins of the main window and the settings
panel, the button, knob, thumb and meter bitmaps, the three window shapes,
the icon and the cursor.

Everything is computed from geometry and a fixed hash, so the output is the
same byte for byte on every run; tests/resources checks that the committed
files are what this script writes.

Usage: make_artwork.py [output folder]   (default: art/ beside this script)
"""
import math
import struct
import sys
from pathlib import Path

# ---------------------------------------------------------------------------
# Window shapes. The main window is a disc centred on x 175 whose right half
# is pulled in to fit the 340-pixel shape; the panel is a crescent whose left
# edge follows the main window's right outline (so the open panel tucks in
# behind it) and whose right edge is a circle around the main window's
# centre (so the shut panel's tab shows as an even rim).

MAIN_ROWS = 350
PANEL_ROWS = 207
PANEL_OFFSET = (66, 72)  # shut panel, relative to the main window
PANEL_OPEN = 243
TAB_LEFT = 237


def main_span(y):
    dy = y + 0.5 - 175
    h = 175 * math.sqrt(max(0.0, 1 - (dy / 175.34) ** 2))
    return round(175 - h), round(175 + h - 10 * (h / 175) ** 4)


def panel_outer_right(y):
    """The panel's right outline before the window's last column cuts it."""
    return round(116.5 + math.sqrt(180.5**2 - (y + 0.5 - 104) ** 2))


def panel_span(y):
    # The open panel's left edge sits 4 pixels behind the main window's rim.
    rim = main_span(y + PANEL_OFFSET[1])[1] - PANEL_OFFSET[0] - PANEL_OPEN
    return max(0, min(27, rim - 4)), min(296, panel_outer_right(y))


def tab_span(y):
    return 0, min(60, panel_outer_right(y) - TAB_LEFT)


def bands(span, rows):
    """One rectangle per run of rows with the same span, top to bottom."""
    rects = []
    for y in range(rows):
        left, right = span(y)
        if rects and rects[-1][0] == left and rects[-1][2] == right:
            rects[-1][3] = y + 1
        else:
            rects.append([left, y, right, y + 1])
    return rects


def region_bytes(rects):
    bound = (min(r[0] for r in rects), rects[0][1], max(r[2] for r in rects), rects[-1][3])
    data = struct.pack("<IIII4i", 32, 1, len(rects), 16 * len(rects), *bound)
    return data + b"".join(struct.pack("<4i", *r) for r in rects)


# ---------------------------------------------------------------------------
# Image files.


def bmp_bytes(width, height, bits, rows, palette=()):
    """rows: top-down lists of palette indices (4, 8 bit) or (r, g, b) (24 bit)."""
    stride = (width * bits + 31) // 32 * 4
    body = bytearray()
    for row in reversed(rows):
        if bits == 24:
            line = b"".join(bytes((b, g, r)) for r, g, b in row)
        elif bits == 8:
            line = bytes(row)
        else:
            padded = list(row) + [0] * (width % 2)
            line = bytes(padded[i] << 4 | padded[i + 1] for i in range(0, width, 2))
        body += line + b"\0" * (stride - len(line))
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    info = struct.pack(
        "<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(body), 2835, 2835, len(palette), 0
    )
    return struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset) + info + table + body


def icon_image(size, pixels):
    """One 32-bit icon or cursor image: BGRA colours, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    stride = (size + 31) // 32 * 4
    for y in range(size - 1, -1, -1):
        line = bytearray(stride)
        for x in range(size):
            r, g, b, a = pixels[y][x]
            colour += bytes((b, g, r, a))
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(colour) + bytes(mask)


def icon_file(kind, images):
    """kind 1: icon, images (size, pixels); kind 2: cursor, (size, pixels, hotspot)."""
    head = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    blobs = b""
    for image in images:
        size, pixels = image[0], image[1]
        blob = icon_image(size, pixels)
        a, b = (1, 32) if kind == 1 else image[2]
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, a, b, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return head + entries + blobs


# ---------------------------------------------------------------------------
# Drawing helpers: images are lists of rows of [r, g, b] floats.


def canvas(width, height, colour=(0, 0, 0)):
    return [[list(colour) for _ in range(width)] for _ in range(height)]


def hash01(*values):
    n = 0x9E3779B9
    for v in values:
        n = (n ^ (v & 0xFFFFFFFF)) * 0x01000193 & 0xFFFFFFFF
        n ^= n >> 15
        n = n * 0x2C1B3C6D & 0xFFFFFFFF
        n ^= n >> 12
    return n / 4294967296.0


def noise1(t, seed):
    """Smooth value noise in one dimension, 0..1."""
    i = math.floor(t)
    f = t - i
    f = f * f * (3 - 2 * f)
    return hash01(i, seed) * (1 - f) + hash01(i + 1, seed) * f


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def smooth(e0, e1, v):
    t = clamp((v - e0) / (e1 - e0))
    return t * t * (3 - 2 * t)


def mix(a, b, t):
    return [a[i] + (b[i] - a[i]) * t for i in range(3)]


def scale(c, k):
    return [c[0] * k, c[1] * k, c[2] * k]


def blend(img, x, y, colour, alpha):
    if 0 <= y < len(img) and 0 <= x < len(img[0]) and alpha > 0:
        p = img[y][x]
        for i in range(3):
            p[i] += (colour[i] - p[i]) * alpha


def to_rgb(img):
    return [[tuple(int(clamp(v, 0, 255) + 0.5) for v in p) for p in row] for row in img]


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def draw_segment(img, ax, ay, bx, by, width, colour, alpha=1.0):
    """Antialiased line with round ends; coordinates are continuous."""
    x0, x1 = int(min(ax, bx) - width), int(max(ax, bx) + width) + 1
    y0, y1 = int(min(ay, by) - width), int(max(ay, by) + width) + 1
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            d = segment_distance(x + 0.5, y + 0.5, ax, ay, bx, by)
            blend(img, x, y, colour, alpha * clamp(width / 2 + 0.5 - d))


def draw_disc(img, cx, cy, radius, colour, alpha=1.0):
    for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
        for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            blend(img, x, y, colour, alpha * clamp(radius + 0.5 - d))


# A 5 x 7 capital font: each glyph is seven rows of five pixels.
FONT_ROWS = """
A 01110 10001 10001 11111 10001 10001 10001
B 11110 10001 10001 11110 10001 10001 11110
C 01110 10001 10000 10000 10000 10001 01110
D 11110 10001 10001 10001 10001 10001 11110
E 11111 10000 10000 11110 10000 10000 11111
F 11111 10000 10000 11110 10000 10000 10000
G 01110 10001 10000 10111 10001 10001 01111
H 10001 10001 10001 11111 10001 10001 10001
I 01110 00100 00100 00100 00100 00100 01110
J 00111 00010 00010 00010 00010 10010 01100
K 10001 10010 10100 11000 10100 10010 10001
L 10000 10000 10000 10000 10000 10000 11111
M 10001 11011 10101 10101 10001 10001 10001
N 10001 10001 11001 10101 10011 10001 10001
O 01110 10001 10001 10001 10001 10001 01110
P 11110 10001 10001 11110 10000 10000 10000
Q 01110 10001 10001 10001 10101 10010 01101
R 11110 10001 10001 11110 10100 10010 10001
S 01111 10000 10000 01110 00001 00001 11110
T 11111 00100 00100 00100 00100 00100 00100
U 10001 10001 10001 10001 10001 10001 01110
V 10001 10001 10001 10001 10001 01010 00100
W 10001 10001 10001 10101 10101 10101 01010
X 10001 10001 01010 00100 01010 10001 10001
Y 10001 10001 01010 00100 00100 00100 00100
Z 11111 00001 00010 00100 01000 10000 11111
0 01110 10001 10011 10101 11001 10001 01110
1 00100 01100 00100 00100 00100 00100 01110
2 01110 10001 00001 00010 00100 01000 11111
3 11111 00010 00100 00010 00001 10001 01110
4 00010 00110 01010 10010 11111 00010 00010
5 11111 10000 11110 00001 00001 10001 01110
6 00110 01000 10000 11110 10001 10001 01110
7 11111 00001 00010 00100 01000 01000 01000
8 01110 10001 10001 01110 10001 10001 01110
9 01110 10001 10001 01111 00001 00010 01100
. 00000 00000 00000 00000 00000 01100 01100
- 00000 00000 00000 11111 00000 00000 00000
"""
FONT = {line[0]: [int(r, 2) for r in line[2:].split()] for line in FONT_ROWS.strip().splitlines()}


def glyph_rows(ch):
    return FONT.get(ch, [0] * 7)


def text_width(text, size=1):
    return (6 * len(text) - 1) * size


def draw_text(img, x, y, text, colour, size=1, alpha=1.0):
    for ch in text:
        for row, bits in enumerate(glyph_rows(ch)):
            for col in range(5):
                if bits & (16 >> col):
                    for sy in range(size):
                        for sx in range(size):
                            blend(img, x + col * size + sx, y + row * size + sy, colour, alpha)
        x += 6 * size


def engrave(img, x, y, text, dark, light, size=1):
    """Text cut into metal: a light lower edge under the dark letters."""
    draw_text(img, x + 1, y + 1, text, light, size, 0.85)
    draw_text(img, x, y, text, dark, size)


def engrave_centred(img, cx, y, text, dark, light, size=1):
    engrave(img, cx - text_width(text, size) // 2, y, text, dark, light, size)


# ---------------------------------------------------------------------------
# Colour reduction for the 8-bit skins: median cut over the exact colours,
# with some colours reserved so that buttons drawn over the skin match it.


def quantise(rgb, reserved=(), size=256):
    fixed = list(dict.fromkeys(reserved))
    counts = {}
    for row in rgb:
        for c in row:
            counts[c] = counts.get(c, 0) + 1
    free = [c for c in counts if c not in set(fixed)]
    boxes = [free] if free else []
    while len(boxes) + len(fixed) < size:
        best, best_score = None, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            spread = max(max(c[k] for c in box) - min(c[k] for c in box) for k in range(3))
            score = spread * math.sqrt(sum(counts[c] for c in box))
            if score > best_score:
                best, best_score = i, score
        if best is None:
            break
        box = boxes.pop(best)
        axis = max(range(3), key=lambda k: max(c[k] for c in box) - min(c[k] for c in box))
        box.sort(key=lambda c: (c[axis], c))
        total = sum(counts[c] for c in box)
        acc, cut = 0, 1
        for i, c in enumerate(box):
            acc += counts[c]
            if acc * 2 >= total:
                cut = min(max(i + 1, 1), len(box) - 1)
                break
        boxes += [box[:cut], box[cut:]]
    palette = list(fixed)
    index = {c: i for i, c in enumerate(fixed)}
    for box in boxes:
        weight = sum(counts[c] for c in box)
        mean = tuple(int(sum(c[k] * counts[c] for c in box) / weight + 0.5) for k in range(3))
        for c in box:
            index[c] = len(palette)
        palette.append(mean)
    palette += [(0, 0, 0)] * (size - len(palette))
    return palette, [[index[c] for c in row] for row in rgb]


def indexed(rgb, max_colours):
    palette = sorted(set(c for row in rgb for c in row))
    assert len(palette) <= max_colours, len(palette)
    index = {c: i for i, c in enumerate(palette)}
    palette += [(0, 0, 0)] * (max_colours - len(palette))
    return palette, [[index[c] for c in row] for row in rgb]


# ---------------------------------------------------------------------------
# Main window.

GLASS_CENTRE = (174.5, 174.5)
GLASS_RADIUS = 147.0
GLASS_TOP, GLASS_BOTTOM = 64.0, 285.0  # the name plate and the chin cut the disc
CLOSE_AT = (245, 40)
LIGHT = (-0.6, -0.8)  # light falls from the upper left


def outer_distance(px, py):
    """Roughly how far inside the main window's outline a point lies."""
    dx, dy = px - 175, py - 175
    r = math.hypot(dx, dy)
    c = max(0.0, dx / r) if r else 0.0
    return 175 - 10 * c**5 - r


def glass_distance(px, py):
    """Signed distance to the screen opening (negative inside)."""
    dx, dy = px - GLASS_CENTRE[0], py - GLASS_CENTRE[1]
    d = math.hypot(dx, dy) - GLASS_RADIUS
    cut = max(GLASS_TOP - py, py - GLASS_BOTTOM)
    # Round the corners where the flat cuts meet the circle.
    k = 4.0
    h = clamp(0.5 + 0.5 * (cut - d) / k)
    return d * (1 - h) + cut * h + k * h * (1 - h)


def metal(base, px, py, cx, cy, seed):
    """Concentrically brushed metal: an anisotropic sheen plus fine rings."""
    dx, dy = px - cx, py - cy
    r = math.hypot(dx, dy)
    a = math.atan2(dy, dx)
    sheen = 0.13 * math.cos(2 * (a + 2.4)) + 0.05 * math.cos(4 * a + 1.0)
    rings = (noise1(r * 1.7, seed) - 0.5) * 0.07 + (noise1(r * 9.1, seed + 1) - 0.5) * 0.03
    grain = (hash01(int(px), int(py), seed + 2) - 0.5) * 0.025
    return scale(base, 1 + sheen + rings + grain)


GLASS = (6, 19, 24)
GRID = (22, 52, 54)
BEZEL = (172, 176, 182)
ENGRAVE_DARK = (58, 62, 70)
ENGRAVE_LIGHT = (228, 231, 235)
CLOSE_COLLAR = (150, 154, 161)


def close_button(state):
    """16 x 16 on the flat collar of its boss: a dark cap with an X, reduced
    to 16 colours; the collar keeps its exact colour so the skin matches."""
    img = canvas(16, 16, CLOSE_COLLAR)
    top, bottom = {
        "normal": ((104, 108, 116), (62, 65, 72)),
        "hover": ((128, 70, 66), (78, 40, 40)),
        "pressed": ((58, 34, 34), (86, 50, 48)),
    }[state]
    mark = {"normal": (222, 226, 232), "hover": (255, 226, 214), "pressed": (224, 150, 140)}[state]
    shift = 0.6 if state == "pressed" else 0.0
    draw_disc(img, 8, 8, 7.4, (40, 42, 48))
    for y in range(16):
        for x in range(16):
            d = math.hypot(x + 0.5 - 8, y + 0.5 - 8)
            blend(img, x, y, mix(top, bottom, clamp((y - 2) / 11)), clamp(6.3 + 0.5 - d))
    for a, b in (((4.6, 4.6), (11.4, 11.4)), ((11.4, 4.6), (4.6, 11.4))):
        draw_segment(img, a[0] + shift, a[1] + shift, b[0] + shift, b[1] + shift, 1.7, mark)
    palette, indices = quantise(to_rgb(img), [CLOSE_COLLAR], 16)
    return [[palette[i] for i in row] for row in indices]


def main_skin():
    w, h = 342, 350
    img = canvas(w, h)
    gx, gy = GLASS_CENTRE
    for y in range(h):
        for x in range(w):
            px, py = x + 0.5, y + 0.5
            inside = outer_distance(px, py)
            sg = glass_distance(px, py)
            if sg > 0:
                c = metal(BEZEL, px, py, 175, 175, 11)
                # The outer rim rolls away from the light at the lower right.
                if inside < 6:
                    dx, dy = px - 175, py - 175
                    r = math.hypot(dx, dy) or 1
                    lit = -(dx * LIGHT[0] + dy * LIGHT[1]) / r
                    c = scale(c, 1 + 0.25 * lit * smooth(6, 1.5, inside))
                    c = mix(c, (40, 42, 46), smooth(2.2, 0.2, inside))
                # The screen sits in a sloped recess, lit on its far side.
                if sg < 7:
                    e = 0.5
                    nx = glass_distance(px + e, py) - glass_distance(px - e, py)
                    ny = glass_distance(px, py + e) - glass_distance(px, py - e)
                    n = math.hypot(nx, ny) or 1
                    lit = (nx * LIGHT[0] + ny * LIGHT[1]) / n
                    c = scale(c, 1 - 0.42 * lit * smooth(7, 4, sg) * smooth(0, 2.5, sg))
                    c = mix(c, (12, 14, 16), smooth(2.2, 0.4, sg))
            else:
                dx, dy = px - gx, py - gy
                r = math.hypot(dx, dy)
                c = scale(GLASS, 1.25 - 0.45 * (r / GLASS_RADIUS) ** 2)
                # A soft reflection of the room in the upper left of the glass.
                glare = smooth(150, 40, math.hypot(dx + 60, dy + 75)) * smooth(-20, 40, -dx - dy)
                c = mix(c, (40, 70, 80), 0.16 * glare)
                c = mix(c, (0, 0, 0), 0.55 * smooth(-9, 0, sg))
            img[y][x] = c
    # The graticule: dotted divisions matching the trace's 10 x 8 grid.
    for k in range(1, 10):
        gxk = 60 + 23 * k
        for y in range(70, 281):
            if glass_distance(gxk + 0.5, y + 0.5) < -3 and (y % 2 == 0 or k == 5):
                blend(img, gxk, y, GRID, 0.9 if k == 5 else 0.6)
    for k in range(-4, 5):
        gyk = 173 + 24 * k
        for x in range(60, 290):
            if glass_distance(x + 0.5, gyk + 0.5) < -3 and (x % 2 == 0 or k == 0):
                blend(img, x, gyk, GRID, 0.9 if k == 0 else 0.6)
    for t in range(60, 290, 5):  # minor ticks along the centre lines
        for dy in (-1, 1):
            blend(img, t, 173 + dy, GRID, 0.7)
    for t in range(173 - 96, 173 + 97, 6):
        for dx in (-1, 1):
            blend(img, 175 + dx, t, GRID, 0.7)
    # Scale marks on both sides of the screen.
    for side in (0.0, math.pi):
        for i in range(-9, 10):
            a = side + math.radians(4 * i)
            major = i % 3 == 0
            r0, r1 = 155.5, 161.0 if major else 158.5
            cx, cy = 175 + r0 * math.cos(a), 174.5 + r0 * math.sin(a)
            ex, ey = 175 + r1 * math.cos(a), 174.5 + r1 * math.sin(a)
            draw_segment(img, cx + 0.6, cy + 0.6, ex + 0.6, ey + 0.6, 1.0, ENGRAVE_LIGHT, 0.6)
            draw_segment(img, cx, cy, ex, ey, 1.3 if major else 1.0, ENGRAVE_DARK, 0.9)
    # Four screws hold the bezel.
    for a in (45, 135, 225, 315):
        sx = 175 + 163.5 * math.cos(math.radians(a))
        sy = 174.5 + 163.5 * math.sin(math.radians(a))
        draw_disc(img, sx + 0.5, sy + 0.7, 4.6, (70, 72, 78), 0.6)
        draw_disc(img, sx, sy, 4.2, (150, 153, 158))
        draw_disc(img, sx - 1, sy - 1, 2.2, (200, 203, 207), 0.6)
        t = math.radians(a * 1.7 + 20)
        draw_segment(img, sx - 3 * math.cos(t), sy - 3 * math.sin(t),
                     sx + 3 * math.cos(t), sy + 3 * math.sin(t), 1.2, (46, 48, 54))
    # The name plate above the screen, the close button's boss at its right and
    # a pilot lamp at its left.
    engrave_centred(img, 175, 36, "MIMICORE", ENGRAVE_DARK, ENGRAVE_LIGHT, 2)
    engrave_centred(img, 175, 300, "VOICE REPEATER", ENGRAVE_DARK, ENGRAVE_LIGHT)
    bx, by = CLOSE_AT[0] + 8, CLOSE_AT[1] + 8
    draw_disc(img, bx + 0.8, by + 0.8, 12.6, (70, 72, 78), 0.7)
    draw_disc(img, bx, by, 12.6, (56, 58, 64))
    draw_disc(img, bx, by, 11.6, CLOSE_COLLAR)
    lx, ly = 350 - bx, by
    draw_disc(img, lx + 0.8, ly + 0.8, 9.6, (70, 72, 78), 0.7)
    draw_disc(img, lx, ly, 9.6, (56, 58, 64))
    draw_disc(img, lx, ly, 8.4, (140, 144, 150))
    draw_disc(img, lx, ly, 5.6, (20, 60, 30))
    draw_disc(img, lx, ly, 4.6, (40, 170, 80))
    draw_disc(img, lx - 1.2, ly - 1.4, 1.8, (200, 255, 210), 0.8)
    rgb = to_rgb(img)
    button = close_button("normal")
    for y in range(16):
        for x in range(16):
            rgb[CLOSE_AT[1] + y][CLOSE_AT[0] + x] = button[y][x]
    return rgb, [c for row in button for c in row]


# ---------------------------------------------------------------------------
# Settings panel: a 297-pixel-wide picture of which the skin takes the first
# 237 columns and the tab the rest, so the two meet without a seam.

PANEL_W, PANEL_H = 297, 207
PANEL_METAL = (182, 186, 192)
KNOBS = {"silence": (34, 158), "bandpass": (100, 105), "delay": (150, 105), "decay": (194, 105)}
KNOB_CENTRE = (16.5, 17.5)
METER = (85, 179)


def meter_colour(k):
    """Lit cell k of 20: green, then yellow, then red."""
    t = k / 19
    if t < 0.6:
        return mix((40, 220, 70), (240, 225, 40), t / 0.6)
    return mix((240, 225, 40), (255, 50, 30), (t - 0.6) / 0.4)


def panel_background():
    img = canvas(PANEL_W, PANEL_H)
    for y in range(PANEL_H):
        streak = (noise1(y * 0.9, 21) - 0.5) * 0.06
        light = 1.06 - 0.12 * y / PANEL_H
        for x in range(PANEL_W):
            brush = (noise1(x * 0.05 + y * 7.3, 22) - 0.5) * 0.05
            grain = (hash01(x, y, 23) - 0.5) * 0.03
            img[y][x] = scale(PANEL_METAL, light + streak + brush + grain)
    # Bevelled edges along the shape: lit at the top, shaded at the bottom.
    for y in range(PANEL_H):
        left, right = panel_span(y)
        for x in range(left, min(right, PANEL_W)):
            edge = x - left
            # The open panel's left edge lies under the main window's rim,
            # which casts a soft shadow onto it.
            img[y][x] = scale(img[y][x], 0.78 + 0.22 * smooth(3, 13, edge))
            if edge < 1:
                img[y][x] = mix(img[y][x], (70, 74, 82), 0.9)
            elif edge < 2:
                img[y][x] = mix(img[y][x], (236, 238, 242), 0.7)
        top, bottom = y, PANEL_H - 1 - y
        if top < 2 or bottom < 2:
            for x in range(left, min(right, PANEL_W)):
                if top == 0 or bottom == 0:
                    img[y][x] = mix(img[y][x], (70, 74, 82), 0.9)
                elif top == 1:
                    img[y][x] = mix(img[y][x], (236, 238, 242), 0.7)
                else:
                    img[y][x] = mix(img[y][x], (120, 124, 130), 0.6)
    return img


def recess(img, x0, y0, x1, y1, fill):
    """A dark slot pressed into the metal: shaded above, lit below."""
    for y in range(y0, y1):
        for x in range(x0, x1):
            img[y][x] = list(fill)
    for x in range(x0 - 1, x1 + 1):
        blend(img, x, y0 - 1, (90, 94, 100), 0.8)
        blend(img, x, y1, (240, 242, 245), 0.8)
    for y in range(y0, y1):
        blend(img, x0 - 1, y, (90, 94, 100), 0.6)
        blend(img, x1, y, (240, 242, 245), 0.6)


def panel_picture():
    img = panel_background()
    dark, light = ENGRAVE_DARK, ENGRAVE_LIGHT
    # Heading banner with the AUTOMODE lamp at its left end.
    recess(img, 75, 4, 234, 26, (44, 48, 56))
    for x in range(75, 234):
        blend(img, x, 4, (70, 76, 88), 1.0)
    draw_text(img, 100, 12, "AUTOMODE", (170, 176, 186))
    draw_text(img, 180, 12, "SETTINGS", (110, 160, 240))
    engrave_centred(img, 43, 20, "RESET", dark, light)
    # Speed slider: a groove the thumb runs in, with its range at the ends.
    engrave_centred(img, 147, 36, "SPEED", dark, light)
    recess(img, 66, 55, 228, 58, (50, 54, 60))
    for x, label in ((64, "SLOW"), (209, "FAST")):
        draw_text(img, x, 36, label, (110, 114, 122))
    # Echo switch and its two knobs.
    engrave(img, 180, 74, "ECHO", dark, light)
    for x in range(152, 228):
        blend(img, x, 88, dark, 0.55)
        blend(img, x, 89, light, 0.6)
    for x in (152, 227):
        for y in range(88, 92):
            blend(img, x, y, dark, 0.55)
    engrave_centred(img, 167, 93, "DELAY", dark, light)
    engrave_centred(img, 211, 93, "DECAY", dark, light)
    engrave_centred(img, 117, 84, "BANDPASS", dark, light)
    engrave_centred(img, 117, 93, "FILTER", dark, light)
    engrave_centred(img, 51, 139, "SILENCE", dark, light)
    engrave_centred(img, 51, 148, "TIMER", dark, light)
    # Knob scales: eleven dots over the needle's 270 degrees.
    for x0, y0 in KNOBS.values():
        cx, cy = x0 + KNOB_CENTRE[0], y0 + KNOB_CENTRE[1]
        for i in range(11):
            a = math.radians(135 + 27 * i)
            r = 15.2
            draw_disc(img, cx + r * math.cos(a), cy + r * math.sin(a), 1.0 if i % 5 else 1.4, dark)
    # Noise threshold: slider groove, meter slot with unlit cells, and the
    # plain strip below it where the program draws its marker.
    recess(img, 81, 166, 229, 169, (50, 54, 60))
    recess(img, 83, 177, 225, 185, (24, 26, 30))
    for k in range(20):
        c = scale(meter_colour(k), 0.22)
        for y in range(4):
            for x in range(5):
                img[METER[1] + y][METER[0] + 7 * k + x] = mix(c, (20, 22, 26), 0.3)
    for y in range(185, 190):
        for x in range(84, 226):
            img[y][x] = list(PANEL_METAL)
    engrave_centred(img, 155, 193, "NOISE THRESHOLD", dark, light)
    return img


def tab_grip(img, state):
    """The tab's curved grip along the panel's right edge (drawn in place)."""
    body = {"normal": (88, 96, 110), "hover": (98, 112, 136), "pressed": (66, 72, 84)}[state]
    ridge = {"normal": (150, 160, 176), "hover": (150, 190, 245), "pressed": (110, 118, 130)}[state]
    for y in range(PANEL_H):
        right = panel_span(y)[1]
        # The grip's inner border follows the true curve, not the pixel steps.
        curve = 116.5 + math.sqrt(180.5**2 - (y + 0.5 - 104) ** 2)
        for x in range(TAB_LEFT, PANEL_W):
            depth = right - 0.5 - x  # distance from the outer edge
            inner = curve - 0.5 - x
            if depth < 0:
                img[y][x] = [0, 0, 0]
                continue
            if inner > 23:
                continue
            shade = 1 + 0.25 * (1 - inner / 22) * (-1 if state == "pressed" else 1)
            c = scale(body, shade)
            if 3 < inner < 19 and y % 6 in (2, 3) and 12 < y < PANEL_H - 12:
                c = mix(c, ridge if y % 6 == 2 else (40, 44, 52), 0.75)
            if depth < 1.2:
                c = mix(c, (36, 40, 48), 0.9)
            c = mix(c, (214, 220, 228), 0.6 * clamp(1 - abs(inner - 20.5)))
            c = mix(c, (48, 52, 60), 0.8 * clamp(1 - abs(inner - 21.7)))
            img[y][x] = mix(c, img[y][x], clamp(inner - 22))
    # A finger notch in the middle of the grip.
    cy = PANEL_H / 2
    for y in range(int(cy) - 16, int(cy) + 17):
        right = panel_span(y)[1]
        for x in range(right - 17, right - 5):
            d = math.hypot((x + 0.5 - (right - 11)) / 4.2, (y + 0.5 - cy) / 15.5)
            if d < 1:
                c = scale(body, 0.55 + 0.35 * (y + 0.5 - cy) / 15.5)
                blend(img, x, y, c, clamp((1 - d) * 6))


def panel_images():
    picture = panel_picture()
    rgb = to_rgb(picture)
    grip = [[list(p) for p in row] for row in picture]
    tab_grip(grip, "normal")
    palette, indices = quantise(to_rgb(grip))
    # The tab's plain parts use the skin's colours, so the seam at x 237 vanishes.
    skin_rgb = [[palette[i] for i in row] for row in indices]
    tabs = {}
    for state in ("normal", "hover", "pressed"):
        layer = [[list(p) for p in row] for row in picture]
        tab_grip(layer, state)
        out = to_rgb(layer)
        tabs[state] = [
            [
                skin_rgb[y][x] if out[y][x] == rgb[y][x] else out[y][x]
                for x in range(TAB_LEFT, PANEL_W)
            ]
            for y in range(PANEL_H)
        ]
    return palette, [row[:TAB_LEFT] for row in indices], skin_rgb, tabs


def round_button(skin_rgb, x0, y0, w, h, draw):
    """A button picture laid over the skin pixels it covers."""
    img = [[list(skin_rgb[y0 + y][x0 + x]) for x in range(w)] for y in range(h)]
    draw(img)
    return to_rgb(img)


def reset_button(state):
    def draw(img):
        cx, cy = 13.5, 14.0
        draw_disc(img, cx + 0.7, cy + 0.9, 12.8, (80, 84, 92), 0.6)
        draw_disc(img, cx, cy, 12.6, (54, 58, 66))
        draw_disc(img, cx, cy, 11.0, (30, 34, 38))
        base = {"normal": (40, 168, 72), "hover": (70, 214, 104), "pressed": (26, 120, 52)}[state]
        off = 1.0 if state == "pressed" else 0.0
        for y in range(28):
            for x in range(27):
                d = math.hypot(x + 0.5 - cx - off * 0.3, y + 0.5 - cy - off * 0.3)
                cover = clamp(9.8 + 0.5 - d)
                if cover <= 0:
                    continue
                hl = math.hypot(x + 0.5 - cx + 3.5 - off, y + 0.5 - cy + 4 - off)
                c = scale(base, 1.25 - 0.5 * d / 10)
                c = mix(c, (235, 255, 235), 0.65 * smooth(5.5, 0.5, hl) * (0.5 if off else 1))
                blend(img, x, y, c, cover)

    return draw


def auto_button(state):
    def draw(img):
        lens = {"normal": (120, 78, 24), "hover": (200, 136, 40), "pressed": (255, 196, 70)}[state]
        for y in range(16):
            for x in range(16):
                edge = min(x, y, 15 - x, 15 - y)
                if edge == 0:
                    c = (30, 32, 38)
                elif edge == 1:
                    c = (150, 156, 166) if x + y < 15 else (70, 74, 84)
                elif edge == 2:
                    c = (24, 26, 30)
                else:
                    d = math.hypot(x + 0.5 - 6.5, y + 0.5 - 6.5)
                    c = mix(scale(lens, 1.2), scale(lens, 0.7), clamp(d / 8))
                    if state == "pressed":
                        c = mix(c, (255, 240, 180), 0.5 * smooth(6, 0, d))
                img[y][x] = list(c)
        for x in (4, 5):
            blend(img, x, 4, (255, 250, 230), 0.6)

    return draw


def knob_face():
    """34 x 30: a light knob with a dark skirt; pure black is transparent."""
    img = []
    cx, cy = KNOB_CENTRE
    for y in range(30):
        row = []
        for x in range(34):
            px, py = x + 0.5, y + 0.5
            d = math.hypot(px - cx, py - cy)
            if d > 12.3:
                row.append((0, 0, 0))
                continue
            if d > 10.6:
                lit = -((px - cx) * LIGHT[0] + (py - cy) * LIGHT[1]) / d
                c = scale((48, 50, 56), 1 + 0.5 * lit)
            else:
                c = metal((206, 210, 216), px, py, cx, cy, 31)
                if d > 9.6:
                    c = mix(c, (244, 246, 250), 0.6)
            r, g, b = (int(clamp(v, 0, 255) + 0.5) for v in c)
            row.append((max(r, 1), g, b))
        img.append(row)
    return img


def thumb(width, height):
    img = []
    for y in range(height):
        row = []
        for x in range(width):
            u, v = (x, y) if width < height else (y, x)
            long_, short = max(width, height), min(width, height)
            if u in (0, short - 1) or v in (0, long_ - 1):
                c = (34, 36, 42)
            elif u == 1 or v == 1:
                c = (236, 238, 242)
            elif u == short - 2 or v == long_ - 2:
                c = (110, 114, 122)
            elif u == short // 2:
                c = (60, 64, 72)
            else:
                c = tuple(int(v_) for v_ in scale((190, 194, 200), 1.05 - 0.1 * v / long_))
            row.append(c)
        img.append(row)
    return img


def meter_lit():
    img = []
    for y in range(4):
        row = []
        for x in range(139):
            k, col = divmod(x, 7)
            if col < 5:
                c = scale(meter_colour(k), (1.15, 1.0, 0.9, 0.75)[y])
                row.append(tuple(int(clamp(v, 0, 255)) for v in c))
            else:
                row.append((0, 0, 0))
        img.append(row)
    return img


# ---------------------------------------------------------------------------
# Icon and cursor, drawn by sampling each pixel 4 x 4 times.


def supersample(size, shade):
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(4):
                for sx in range(4):
                    u = (x + (sx + 0.5) / 4) / size
                    v = (y + (sy + 0.5) / 4) / size
                    r, g, b, a = shade(u, v)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / 16
            if a < 0.02:
                row.append((0, 0, 0, 0))
            else:
                colour = tuple(int(acc[i] / acc[3] + 0.5) for i in range(3))
                row.append(colour + (int(a * 255 + 0.5),))
        pixels.append(row)
    return pixels


def icon_shade(u, v):
    dx, dy = u - 0.5, v - 0.5
    r = math.hypot(dx, dy)
    if r > 0.48:
        return 0, 0, 0, 0
    if r > 0.36:
        a = math.atan2(dy, dx)
        k = 1 + 0.18 * math.cos(2 * (a + 2.4))
        if r > 0.455:
            k *= 0.55
        return 175 * k, 180 * k, 188 * k, 1
    wave = 0.5 + 0.17 * math.sin((u - 0.14) * 2 * math.pi * 2.1) * math.cos((u - 0.5) * 2.6)
    if abs(v - wave) < 0.045 and 0.16 < u < 0.84:
        return 60, 240, 110, 1
    if abs(v - 0.5) < 0.012:
        return 160, 40, 40, 1
    g = 1.25 - 0.6 * (r / 0.36) ** 2
    return 8 * g, 26 * g, 32 * g, 1


ARROW = [(0, 0), (0, 19), (4.6, 15.0), (7.6, 22.0), (11.0, 20.6), (8.0, 13.8), (13.6, 13.8)]


def inside_polygon(x, y, points):
    inside = False
    for i in range(len(points)):
        (ax, ay), (bx, by) = points[i - 1], points[i]
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            inside = not inside
    return inside


def polygon_distance(x, y, points):
    return min(segment_distance(x, y, *points[i - 1], *points[i]) for i in range(len(points)))


def cursor_shade(u, v):
    x, y = u * 32 - 0.5, v * 32 - 0.5
    if not inside_polygon(x, y, ARROW):
        return 0, 0, 0, 0
    edge = polygon_distance(x, y, ARROW)
    if edge < 1.1:
        return 24, 26, 30, 1
    # Light metal, darkening away from the tip.
    t = clamp((x + y) / 28)
    c = mix((244, 246, 250), (170, 176, 186), t)
    return c[0], c[1], c[2], 1


def cursor_pixels():
    pixels = supersample(32, cursor_shade)
    # The hot spot is the arrow's tip; keep it fully opaque so it reads.
    pixels[0][0] = (24, 26, 30, 255)
    return pixels


# ---------------------------------------------------------------------------


def write(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)

    def bmp(name, rgb, bits, palette=None):
        if bits == 24:
            data = bmp_bytes(len(rgb[0]), len(rgb), 24, rgb)
        else:
            data = bmp_bytes(len(rgb[0]), len(rgb), bits, rgb, palette)
        (folder / name).write_bytes(data)

    skin, reserved = main_skin()
    palette, indices = quantise(skin, reserved)
    bmp("main_skin.bmp", indices, 8, palette)
    for state in ("normal", "hover", "pressed"):
        pal, idx = indexed(close_button(state), 16)
        bmp(f"close_{state}.bmp", idx, 4, pal)

    palette, indices, skin_rgb, tabs = panel_images()
    bmp("panel_skin.bmp", indices, 8, palette)
    for state in ("normal", "hover", "pressed"):
        bmp(f"tab_{state}.bmp", tabs[state], 24)
        bmp(f"reset_{state}.bmp", round_button(skin_rgb, 30, 30, 27, 28, reset_button(state)), 24)
        bmp(f"auto_{state}.bmp", round_button(skin_rgb, 80, 7, 16, 16, auto_button(state)), 24)
    bmp("knob_face.bmp", knob_face(), 24)
    bmp("thumb_horizontal.bmp", thumb(11, 19), 24)
    bmp("thumb_vertical.bmp", thumb(19, 11), 24)
    bmp("meter_lit.bmp", meter_lit(), 24)

    (folder / "main_shape.rgn").write_bytes(region_bytes(bands(main_span, MAIN_ROWS)))
    (folder / "panel_shape.rgn").write_bytes(region_bytes(bands(panel_span, PANEL_ROWS)))
    (folder / "tab_shape.rgn").write_bytes(region_bytes(bands(tab_span, PANEL_ROWS)))

    icons = [(s, supersample(s, icon_shade)) for s in (16, 32, 48)]
    (folder / "mimicore.ico").write_bytes(icon_file(1, icons))
    (folder / "mimicore.cur").write_bytes(icon_file(2, [(32, cursor_pixels(), (0, 0))]))


if __name__ == "__main__":
    write(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent / "art")
