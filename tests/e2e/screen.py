"""What the program shows, read off screenshots of the virtual display.

Screens are numpy arrays of shape (height, width, 3), 8-bit RGB.
"""

import struct
import subprocess

import numpy as np

# Client coordinates of the main window (x, y, width, height).
DISPLAY_AREA = (60, 68, 229, 213)
ZERO_LINE_Y = 173
BAR_BASE_Y = 281
BARS_X = (233, 274)  # bin 40 .. bin 0
TRACE = (0, 230, 90)
BAR = (90, 150, 255)
TITLE = (110, 160, 240)
VALUE = (110, 160, 220)
ROOT = (255, 255, 255)  # the display's root window (Xvfb -wr)


def grab(env, size):
    """The whole screen, as the X server holds it."""
    out = subprocess.run(
        ["import", "-window", "root", "-depth", "8", "rgb:-"],
        env=env, capture_output=True, timeout=30, check=True,
    ).stdout
    w, h = size
    return np.frombuffer(out[: w * h * 3], np.uint8).reshape(h, w, 3)


def save_png(screen, path):
    h, w, _ = screen.shape
    subprocess.run(
        ["convert", "-size", f"{w}x{h}", "-depth", "8", "rgb:-", str(path)],
        input=screen.tobytes(), capture_output=True, timeout=30, check=True,
    )


def read_bmp(path):
    """An uncompressed 4-, 8- or 24-bit BMP as an RGB array."""
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    size, w, h, _, bits = struct.unpack_from("<IiiHH", data, 14)
    colours, = struct.unpack_from("<I", data, 46)
    top_down = h < 0
    h = abs(h)
    stride = (w * bits + 31) // 32 * 4
    rows = np.frombuffer(data, np.uint8, stride * h, offset).reshape(h, stride)
    if bits == 24:
        pixels = rows[:, : w * 3].reshape(h, w, 3)[:, :, ::-1]
    else:
        count = colours or (1 << bits)
        table = np.frombuffer(data, np.uint8, count * 4, 14 + size).reshape(count, 4)
        if bits == 8:
            index = rows[:, :w]
        else:  # 4 bits, the high nibble first
            index = np.stack([rows >> 4, rows & 15], axis=2).reshape(h, -1)[:, :w]
        pixels = table[index][:, :, 2::-1]
    return pixels if top_down else pixels[::-1]


def region_mask(path, size):
    """Which pixels of a window its region resource lets through."""
    data = open(path, "rb").read()
    count, = struct.unpack_from("<I", data, 8)
    mask = np.zeros((size[1], size[0]), bool)
    for i in range(count):
        left, top, right, bottom = struct.unpack_from("<iiii", data, 32 + 16 * i)
        mask[top:bottom, left:right] = True
    return mask


def window_part(screen, origin, size):
    x, y = origin
    w, h = size
    return screen[y : y + h, x : x + w]


def display_area(window):
    x, y, w, h = DISPLAY_AREA
    return window[y : y + h, x : x + w]


def is_colour(pixels, colour):
    return np.all(pixels == np.array(colour, np.uint8), axis=-1)


def off_zero_line_trace(area):
    """Trace pixels more than 2 rows from the zero line."""
    rows = np.nonzero(is_colour(area, TRACE))[0] + DISPLAY_AREA[1]
    return int(np.sum(np.abs(rows - ZERO_LINE_Y) > 2))


def tallest_bar(area):
    """Height of the tallest spectrum bar on the screen (the row at the
    base itself lies outside the display area)."""
    rows = np.nonzero(is_colour(area, BAR))[0] + DISPLAY_AREA[1]
    return int(BAR_BASE_Y - rows.min()) if rows.size else 0


def status_text(area):
    """Pixels in the status texts' colours."""
    return int(np.sum(is_colour(area, TITLE) | is_colour(area, VALUE)))


def beyond_skin_and_trace(area, skin_area):
    """Pixels that differ from the skin other than the zero line, a flat
    trace on it and the bars' stubs."""
    differ = np.any(area != skin_area, axis=-1)
    y0 = DISPLAY_AREA[1]
    x0 = DISPLAY_AREA[0]
    differ[ZERO_LINE_Y - 1 - y0 : ZERO_LINE_Y + 2 - y0, :] = False
    differ[BAR_BASE_Y - 3 - y0 :, BARS_X[0] - x0 : BARS_X[1] - x0] = False
    return int(np.sum(differ))


# Panel-client place of the level meter: 20 cells 5 pixels wide, 7 apart.
METER = (85, 179, 139, 4)


def lit_cells(panel, lit_strip):
    """How many of the level meter's cells show their lit picture (the
    lit strip's piece at the same place)."""
    x, y, w, h = METER
    strip = panel[y : y + h, x : x + w]
    return sum(
        np.array_equal(strip[:, k : k + 5], lit_strip[:, k : k + 5]) for k in range(0, w, 7)
    )


def title_pixels(area):
    """Pixels in the status title's colour: a longer title has more."""
    return int(np.sum(is_colour(area, TITLE)))
